#include "ui/HeadlessHost.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "foundation/RunLoop.h"
#include "platform/UserDefaults.h"

namespace orvel::ui {

namespace {

template <class T>
void forget(std::vector<T*>& list, T* item) {
    std::erase(list, item);
}

}  // namespace

// Window -----------------------------------------------------------------------------------------

HeadlessWindow::HeadlessWindow(HeadlessHost& host) : host_(host) {
    host_.windows_.push_back(this);
}

HeadlessWindow::~HeadlessWindow() {
    forget(host_.windows_, this);
    if (host_.key_ == this) {
        host_.key_ = nullptr;
    }
}

void HeadlessWindow::setContent(std::shared_ptr<ViewComponent> content) {
    view_ = content ? std::make_unique<ViewHost>(std::move(content)) : nullptr;
    if (view_ && visible_) {
        view_->setShown(true);
    }
}

std::shared_ptr<ViewComponent> HeadlessWindow::content() const {
    return view_ ? view_->root() : nullptr;
}

bool HeadlessWindow::setFrameAutosaveName(std::string name) {
    autosaveName_ = std::move(name);
    // Like the Qt host, a frame counts as saved when the defaults hold one under the name.
    UserDefaults* defaults = host_.capabilities().defaults;
    return !autosaveName_.empty() && defaults != nullptr &&
           defaults->stringForKey("NSWindow Frame " + autosaveName_);
}

void HeadlessWindow::makeKeyAndOrderFront() {
    visible_ = true;
    host_.key_ = this;
    if (view_) {
        view_->setShown(true);
    }
}

void HeadlessWindow::close() {
    if (!visible_) {
        return;
    }
    visible_ = false;
    if (host_.key_ == this) {
        host_.key_ = nullptr;
    }
    if (view_) {
        view_->setShown(false);
    }
    if (onClose) {
        auto handler = onClose;
        handler();
    }
}

bool HeadlessWindow::isKey() const {
    return host_.key_ == this;
}

Inspector HeadlessWindow::inspect() const {
    if (!view_) {
        std::fputs("HeadlessWindow::inspect() on a window without content\n", stderr);
        std::abort();
    }
    return Inspector(*view_);
}

// Status item and popover ----------------------------------------------------------------------

HeadlessStatusItem::HeadlessStatusItem(HeadlessHost& host) : host_(host) {
    host_.statusItems_.push_back(this);
}

HeadlessStatusItem::~HeadlessStatusItem() {
    forget(host_.statusItems_, this);
}

void HeadlessStatusItem::click(std::optional<StatusItemClick> click) {
    if (onClick) {
        auto handler = onClick;
        handler(click);
    }
}

HeadlessPopover::HeadlessPopover(HeadlessHost& host) : host_(host) {
    host_.popovers_.push_back(this);
}

HeadlessPopover::~HeadlessPopover() {
    forget(host_.popovers_, this);
}

void HeadlessPopover::setContent(std::shared_ptr<ViewComponent> content) {
    ++installs_;
    view_ = content ? std::make_unique<ViewHost>(std::move(content)) : nullptr;
    if (view_ && shown_) {
        view_->setShown(true);
    }
}

void HeadlessPopover::show(StatusItem&) {
    shown_ = true;
    if (view_) {
        view_->setShown(true);
    }
}

void HeadlessPopover::close() {
    shown_ = false;
    if (view_) {
        view_->setShown(false);
    }
}

Inspector HeadlessPopover::inspect() const {
    if (!view_) {
        std::fputs("HeadlessPopover::inspect() on a popover without content\n", stderr);
        std::abort();
    }
    return Inspector(*view_);
}

// Alerts -----------------------------------------------------------------------------------------

int HeadlessAlert::runModal() {
    ORVEL_ASSERT_MAIN_THREAD("HeadlessAlert::runModal");
    host_.alerts_.push_back(shared_from_this());
    checkbox_ = content_.checkbox ? content_.checkbox->second : false;
    if (host_.alertScripts_.empty()) {
        ++host_.unscripted_;
        std::fprintf(stderr, "headless host: no script answers the alert \"%s\"\n",
                     content_.messageText.c_str());
        response_ = kModalResponseAbort;
        return *response_;
    }
    AlertScript script = std::move(host_.alertScripts_.front());
    host_.alertScripts_.pop_front();
    running_ = true;
    // Keep this alert alive while its loop runs, whatever the code that showed it does.
    auto self = shared_from_this();
    const bool answered = RunLoop::main().runModal([&] {
        if (response_) {
            return true;
        }
        if (auto decided = script(*this)) {
            response_ = decided;
            return true;
        }
        return false;
    });
    running_ = false;
    if (!answered || !response_) {
        ++host_.unscripted_;
        response_ = kModalResponseAbort;
    }
    return *response_;
}

void HeadlessAlert::setButtonTitle(std::size_t index, std::string title) {
    if (running_ && index < content_.buttons.size()) {
        content_.buttons[index] = std::move(title);
    }
}

void HeadlessAlert::stopModal(int response) {
    if (running_ && !response_) {
        response_ = response;
    }
}

void HeadlessApplication::setActivationPolicy(ActivationPolicy policy) {
    policy_ = policy;
    const char* name = policy == ActivationPolicy::regular     ? "regular"
                       : policy == ActivationPolicy::accessory ? "accessory"
                                                               : "prohibited";
    host_.requested.send(std::string("activation policy ") + name);
}

void HeadlessApplication::activate(bool) {
    ++activations_;
    host_.requested.send("activate");
}

void HeadlessApplication::terminate() {
    ORVEL_ASSERT_MAIN_THREAD("HeadlessApplication::terminate");
    if (terminated_) {
        return;
    }
    terminated_ = true;
    host_.willTerminate.send();
    if (RunLoop::hasMain()) {
        RunLoop::main().quit();
    }
}

// Host -------------------------------------------------------------------------------------------

HeadlessHost::HeadlessHost(HostCapabilities capabilities) : UiHost(capabilities) {}
HeadlessHost::~HeadlessHost() = default;

HeadlessHost& HeadlessHost::current() {
    auto* host = dynamic_cast<HeadlessHost*>(&UiHost::current());
    if (host == nullptr) {
        std::fputs("HeadlessHost::current() used while another host is installed\n", stderr);
        std::abort();
    }
    return *host;
}

std::unique_ptr<Window> HeadlessHost::makeWindow() {
    ORVEL_ASSERT_MAIN_THREAD("HeadlessHost::makeWindow");
    return std::make_unique<HeadlessWindow>(*this);
}

std::unique_ptr<StatusItem> HeadlessHost::makeStatusItem() {
    ORVEL_ASSERT_MAIN_THREAD("HeadlessHost::makeStatusItem");
    auto item = std::make_unique<HeadlessStatusItem>(*this);
    requested.send("status item");
    return item;
}

std::unique_ptr<Popover> HeadlessHost::makePopover() {
    ORVEL_ASSERT_MAIN_THREAD("HeadlessHost::makePopover");
    return std::make_unique<HeadlessPopover>(*this);
}

std::shared_ptr<Alert> HeadlessHost::makeAlert(AlertContent content) {
    ORVEL_ASSERT_MAIN_THREAD("HeadlessHost::makeAlert");
    return std::make_shared<HeadlessAlert>(*this, std::move(content));
}

AlertScript HeadlessHost::answer(int response) {
    return [response](HeadlessAlert&) { return std::optional<int>(response); };
}

AlertScript HeadlessHost::answerAfter(double seconds, int response) {
    // The clock starts when the script is first asked, that is when the alert is up.
    auto due = std::make_shared<std::optional<double>>();
    auto timer = std::make_shared<Timer>();
    return [=](HeadlessAlert&) -> std::optional<int> {
        if (!*due) {
            *due = RunLoop::main().uptime() + seconds;
            // Something to wake the modal loop at the due time.
            *timer = RunLoop::main().after(
                seconds, [] {}, TimerMode::Common);
        }
        if (RunLoop::main().uptime() >= **due) {
            return response;
        }
        return std::nullopt;
    };
}

AlertScript HeadlessHost::answerWhen(std::function<bool(HeadlessAlert&)> condition, int response) {
    return
        [condition = std::move(condition), response](HeadlessAlert& alert) -> std::optional<int> {
            if (condition(alert)) {
                return response;
            }
            return std::nullopt;
        };
}

AlertScript HeadlessHost::leaveUp() {
    return [](HeadlessAlert&) { return std::optional<int>(); };
}

std::optional<std::string> HeadlessHost::runSavePanel(const SavePanelOptions& content) {
    ORVEL_ASSERT_MAIN_THREAD("HeadlessHost::runSavePanel");
    savePanelsShown_.push_back(content);
    if (savePanels_.empty()) {
        return std::nullopt;
    }
    auto scripted = std::move(savePanels_.front());
    savePanels_.pop_front();
    workAccessory(content.accessory, scripted.step);
    return std::move(scripted.answer);
}

void HeadlessHost::workAccessory(const std::shared_ptr<ViewComponent>& accessory,
                                 const PanelStep& step) {
    if (!accessory || !step) {
        return;
    }
    ViewHost view(accessory);
    view.evaluate();
    Inspector inspector(view);
    step(inspector);
}

std::optional<std::vector<std::string>> HeadlessHost::runOpenPanel(
    const OpenPanelOptions& content) {
    ORVEL_ASSERT_MAIN_THREAD("HeadlessHost::runOpenPanel");
    openPanelsShown_.push_back(content);
    if (openPanels_.empty()) {
        return std::nullopt;
    }
    // Moving the optional out whole makes g++ 12 at -O2 warn that the vector may be
    // uninitialised; taking the paths alone does not.
    std::optional<std::vector<std::string>> answer;
    if (openPanels_.front().answer) {
        answer.emplace(std::move(*openPanels_.front().answer));
    }
    const PanelStep step = std::move(openPanels_.front().step);
    openPanels_.pop_front();
    workAccessory(content.accessory, step);
    return answer;
}

void HeadlessHost::setMainMenu(std::vector<MenuBarItem> menus) {
    ORVEL_ASSERT_MAIN_THREAD("HeadlessHost::setMainMenu");
    menus_ = std::move(menus);
    ++menuInstalls_;
    requested.send("main menu");
}

bool HeadlessHost::performMenuItem(const std::vector<std::string>& path) {
    ORVEL_ASSERT_MAIN_THREAD("HeadlessHost::performMenuItem");
    const std::vector<MenuBarItem>* level = &menus_;
    const MenuBarItem* item = nullptr;
    for (const auto& title : path) {
        auto it = std::find_if(level->begin(), level->end(),
                               [&](const MenuBarItem& m) { return m.title == title; });
        if (it == level->end()) {
            return false;
        }
        item = &*it;
        level = &it->submenu;
    }
    if (item == nullptr || !item->enabled) {
        return false;
    }
    if (item->action) {
        auto action = item->action;
        action();
        return true;
    }
    if (item->standardAction != StandardAction::none) {
        performStandardAction(item->standardAction);
        return true;
    }
    return false;
}

const MenuBarItem* HeadlessHost::menuWithRole(MenuRole role) const {
    for (const MenuBarItem& menu : menus_) {
        for (const MenuBarItem& item : menu.submenu) {
            if (item.role == role) {
                return &item;
            }
        }
        if (menu.role == role) {
            return &menu;
        }
    }
    return nullptr;
}

void HeadlessHost::performStandardAction(StandardAction action) {
    ORVEL_ASSERT_MAIN_THREAD("HeadlessHost::performStandardAction");
    standardActions_.push_back(action);
    if (action == StandardAction::close && key_ != nullptr) {
        key_->close();
    } else if (action == StandardAction::quit) {
        application_.terminate();
    }
}

HeadlessWindow* HeadlessHost::window(std::string_view title) const {
    for (HeadlessWindow* w : windows_) {
        if (w->title() == title) {
            return w;
        }
    }
    return nullptr;
}

}  // namespace orvel::ui
