#include "platform/linux/SwayWindowPlacement.h"

#include <algorithm>
#include <type_traits>

namespace orvel {

namespace {

constexpr double kAnswerSeconds = 1.0;
// How long a window just shown may take to reach sway's tree, and how often it is looked for.
constexpr double kMappedWithin = 2.0;
constexpr double kAskEvery = 0.05;

// A member of the type asked for; sway leaves some out and writes others as null.
template <class T>
std::optional<T> member(const Json& node, const char* key) {
    const auto it = node.find(key);
    if (it == node.end() ||
        (std::is_same_v<T, std::string> ? !it->is_string() : !it->is_number_integer())) {
        return std::nullopt;
    }
    return it->template get<T>();
}

SwayWindowPlacement::Box boxOf(const Json& node) {
    const auto rect = node.find("rect");
    if (rect == node.end() || !rect->is_object()) {
        return {};
    }
    auto at = [&](const char* key) { return member<int>(*rect, key).value_or(0); };
    return {at("x"), at("y"), at("width"), at("height")};
}

std::optional<SwayWindowPlacement::Found> findIn(const Json& node, int pid,
                                                 const std::string& title,
                                                 const SwayWindowPlacement::Box& area,
                                                 const SwayWindowPlacement::Box& output) {
    if (!node.is_object()) {
        return std::nullopt;
    }
    const std::string type = member<std::string>(node, "type").value_or("");
    const SwayWindowPlacement::Box here = type == "workspace" ? boxOf(node) : area;
    const SwayWindowPlacement::Box screen = type == "output" ? boxOf(node) : output;
    const bool leaf = !node.contains("nodes") || node["nodes"].empty();
    if ((type == "con" || type == "floating_con") && leaf && member<int>(node, "pid") == pid &&
        member<std::string>(node, "name") == title) {
        return SwayWindowPlacement::Found{member<long long>(node, "id").value_or(0), boxOf(node),
                                          here, screen};
    }
    for (const char* children : {"nodes", "floating_nodes"}) {
        if (!node.contains(children) || !node[children].is_array()) {
            continue;
        }
        for (const Json& child : node[children]) {
            if (auto found = findIn(child, pid, title, here, screen)) {
                return found;
            }
        }
    }
    return std::nullopt;
}

// Where the pointer is along one axis, from where sway put a window of `size` centred on it
// inside the output: exactly there where sway did not have to move it; where it did, on the bar
// along that edge (what lies outside the usable area), or not known without one.
std::optional<int> pointerAlong(int start, int size, int outputStart, int outputSize, int areaStart,
                                int areaSize) {
    const int outputEnd = outputStart + outputSize;
    const int areaEnd = areaStart + areaSize;
    if (start > outputStart && start + size < outputEnd) {
        return start + size / 2;
    }
    if (start <= outputStart && areaStart > outputStart) {
        return (outputStart + areaStart) / 2;
    }
    if (start + size >= outputEnd && areaEnd < outputEnd) {
        return (areaEnd + outputEnd) / 2;
    }
    return std::nullopt;
}

// A title as a criterion sway matches whole (its criteria are regular expressions).
std::string titleCriterion(const std::string& title) {
    std::string quoted = "^";
    for (const char c : title) {
        if (std::string_view("\\^$.|?*+()[]{}\"").find(c) != std::string_view::npos) {
            quoted += '\\';
        }
        quoted += c;
    }
    return quoted + "$";
}

}  // namespace

SwayWindowPlacement::SwayWindowPlacement(std::string swaySocket, int pid)
    : socket_(std::move(swaySocket)), pid_(pid) {}

SwayWindowPlacement::~SwayWindowPlacement() = default;

bool SwayWindowPlacement::isAvailable() const {
    return SwayRequest::isSocket(socket_);
}

void SwayWindowPlacement::placeByPointer(const std::string& title, int gap, Placed placed) {
    cancel();
    title_ = title;
    gap_ = gap;
    placed_ = std::move(placed);
    deadline_ = RunLoop::main().uptime() + kMappedWithin;
    ask();
}

void SwayWindowPlacement::cancel() {
    request_.reset();
    focus_.reset();
    retry_ = {};
}

void SwayWindowPlacement::watchFocus(std::function<void()> lost) {
    auto event = [this, lost = std::move(lost)](std::uint32_t type, const std::string& payload) {
        const auto told = parseJson(payload);
        if (!told || !told->is_object() || member<std::string>(*told, "change") != "focus") {
            return;
        }
        if (type == SwaySubscription::kWindowEvent) {
            const auto container = told->find("container");
            if (container != told->end() && container->is_object() &&
                member<int>(*container, "pid") == pid_ &&
                member<std::string>(*container, "name") == title_) {
                return;
            }
        }
        focus_.reset();
        lost();
    };
    auto subscribed = SwaySubscription::start(socket_, R"(["window","workspace"])", event);
    if (!subscribed) {
        log_.error("sway's focus is not followed: " + subscribed.error().message);
        return;
    }
    focus_ = std::move(*subscribed);
}

std::optional<SwayWindowPlacement::Found> SwayWindowPlacement::find(const Json& tree, int pid,
                                                                    const std::string& title) {
    return findIn(tree, pid, title, boxOf(tree), boxOf(tree));
}

std::vector<LayoutOutput> SwayWindowPlacement::outputs(const Json& tree) {
    std::vector<LayoutOutput> found;
    if (!tree.is_object() || !tree.contains("nodes") || !tree["nodes"].is_array()) {
        return found;
    }
    for (const Json& node : tree["nodes"]) {
        const auto name = member<std::string>(node, "name");
        // sway keeps its scratchpad on an output of its own, "__i3", that no screen shows.
        if (node.is_object() && member<std::string>(node, "type") == "output" && name &&
            name->rfind("__", 0) != 0) {
            found.push_back({*name, boxOf(node)});
        }
    }
    return found;
}

SwayWindowPlacement::Box SwayWindowPlacement::placed(const Found& centred, int gap) {
    const Box& area = centred.area;
    const Box& output = centred.output;
    Box box = centred.window;
    // Where the pointer is not known, the window stays where sway put it: over the pointer.
    if (const auto x = pointerAlong(box.x, box.width, output.x, output.width, area.x, area.width)) {
        box.x = *x - box.width / 2;
    }
    if (const auto y =
            pointerAlong(box.y, box.height, output.y, output.height, area.y, area.height)) {
        box.y = *y + gap;
        if (box.y + box.height > area.y + area.height) {
            box.y = *y - gap - box.height;
        }
    }
    box.x = std::clamp(box.x, area.x, std::max(area.x, area.x + area.width - box.width));
    box.y = std::clamp(box.y, area.y, std::max(area.y, area.y + area.height - box.height));
    return box;
}

void SwayWindowPlacement::send(std::uint32_t type, const std::string& payload,
                               SwayRequest::Done done) {
    auto sent = SwayRequest::send(socket_, type, payload, kAnswerSeconds, std::move(done));
    if (!sent) {
        log_.error("sway could not be asked to place Orvel's panel: " + sent.error().message);
        return;
    }
    request_ = std::move(*sent);
}

void SwayWindowPlacement::ask() {
    const std::string command = "[pid=" + std::to_string(pid_) + " title=\"" +
                                titleCriterion(title_) +
                                "\"] floating enable, move position cursor";
    send(SwayRequest::kRunCommand, command, [this](Result<std::string> answer) {
        request_.reset();
        if (!answer) {
            log_.error("sway did not place Orvel's panel: " + answer.error().message);
        } else if (!SwayRequest::succeeded(*answer)) {
            askAgainOrGiveUp(*answer);
        } else {
            readTree();
        }
    });
}

void SwayWindowPlacement::askAgainOrGiveUp(const std::string& why) {
    // Not yet in the tree: shown windows reach it when they have drawn.
    if (RunLoop::main().uptime() + kAskEvery > deadline_) {
        log_.error("sway did not place Orvel's panel: " + why);
        return;
    }
    retry_ = RunLoop::main().after(kAskEvery, [this] { ask(); });
}

void SwayWindowPlacement::readTree() {
    send(SwayRequest::kGetTree, "", [this](Result<std::string> answer) {
        request_.reset();
        auto tree = answer ? parseJson(*answer) : Result<Json>(answer.error());
        auto found = tree ? find(*tree, pid_, title_) : std::nullopt;
        if (!found) {
            log_.error("sway's tree did not show Orvel's panel: " +
                       (tree ? std::string("no window of it") : tree.error().message));
            return;
        }
        moveTo(*found, outputs(*tree));
    });
}

void SwayWindowPlacement::moveTo(const Found& found, std::vector<LayoutOutput> outputs) {
    const Box to = placed(found, gap_);
    const std::string command = "[con_id=" + std::to_string(found.id) +
                                "] move absolute position " + std::to_string(to.x) + " " +
                                std::to_string(to.y);
    send(SwayRequest::kRunCommand, command,
         [this, command, to, outputs = std::move(outputs)](Result<std::string> answer) {
             request_.reset();
             if (!answer || !SwayRequest::succeeded(*answer)) {
                 log_.error("sway did not move Orvel's panel (\"" + command +
                            "\"): " + (answer ? *answer : answer.error().message));
             } else if (placed_) {
                 placed_(to, outputs);
             }
         });
}

}  // namespace orvel
