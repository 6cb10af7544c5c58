#include "menubar/CustomDurationView.h"

#include <algorithm>
#include <limits>

#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "core/SessionRequest.h"
#include "foundation/DateFormatting.h"
#include "foundation/Localization.h"
#include "foundation/RunLoop.h"

namespace orvel {

namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

// value × unit, or the 64-bit limit when that does not fit; negatives count as 0.
std::int64_t saturatingTimes(std::int64_t value, std::int64_t unit) {
    if (value <= 0) {
        return 0;
    }
    return value > kMax / unit ? kMax : value * unit;
}

}  // namespace

CustomDurationView::CustomDurationView(OrvelController& controller, Preferences& prefs,
                                       std::int64_t startHours, std::int64_t startMinutes,
                                       std::function<void()> onDone)
    : hours(*this, std::max<std::int64_t>(startHours, 0)),
      minutes(*this, std::max<std::int64_t>(startMinutes, 0)),
      c_(controller),
      prefs_(prefs),
      onDone_(std::move(onDone)) {}

std::pair<std::int64_t, std::int64_t> CustomDurationView::startValues(std::int64_t customSeconds) {
    const std::int64_t seconds = std::max<std::int64_t>(customSeconds, 0);
    return {seconds / 3600, seconds % 3600 / 60};
}

std::vector<ObservableObject*> CustomDurationView::observedObjects() {
    return {&c_, &prefs_};
}

std::int64_t CustomDurationView::total() const {
    const std::int64_t h = saturatingTimes(hours(), 3600);
    const std::int64_t m = saturatingTimes(minutes(), 60);
    return h > kMax - m ? kMax : h + m;
}

std::string CustomDurationView::endTimeText() const {
    return shortTimeText(RunLoop::main().now() + static_cast<double>(total()));
}

void CustomDurationView::cancel() {
    if (onDone_) {
        onDone_();
    }
}

void CustomDurationView::set() {
    const std::int64_t seconds = total();
    prefs_.customSeconds = seconds;
    c_.selectPreset(DurationPreset::custom);
    cancel();
}

void CustomDurationView::setAndStart() {
    const std::int64_t seconds = total();
    prefs_.customSeconds = seconds;
    c_.preset = DurationPreset::custom;
    c_.saveSession();
    SessionRequest request;
    request.deadline = c_.deadlineForPreset(DurationPreset::custom);
    request.end = request.deadline ? SessionRequest::End::at : SessionRequest::End::never;
    c_.start(request);
    cancel();
}

ui::View CustomDurationView::column(Published<std::int64_t>& value, double maximum,
                                    const std::string& unit, const std::string& name) {
    using namespace ui;
    Published<std::int64_t>* v = &value;
    // A typed negative number counts as 0; larger numbers than the stepper's range are kept.
    Binding<std::int64_t> typed{[v] { return (*v)(); },
                                [v](const std::int64_t& n) { *v = std::max<std::int64_t>(n, 0); }};
    Binding<double> stepped{[v] { return static_cast<double>((*v)()); },
                            [v](const double& n) { *v = static_cast<std::int64_t>(n); }};
    return VStack(
        HAlign::leading, 4,
        {
            HStack(VAlign::center, 4,
                   {
                       IntegerField("", typed)
                           .accessibilityLabel(name)
                           .multilineTextAlignment(TextAlignment::trailing)
                           .frame(58),
                       Stepper(Text(name), stepped, 0, maximum, 1).labelsHidden(),
                   }),
            Text(unit).font(Font::style(TextStyle::caption)).foregroundStyle(Hierarchy::secondary),
        });
}

ui::View CustomDurationView::body() {
    using namespace ui;
    const std::int64_t seconds = total();
    View caption = seconds == 0 ? Text("Zero is the same as Indefinitely.")
                                : TextVerbatim(localizedFormat("Ends at %@.", {endTimeText()}));
    return VStack(HAlign::leading, 18,
                  {
                      Text("Stay awake for").font(Font::system(15, FontWeight::semibold)),
                      HStack(VAlign::center, 18,
                             {column(hours, 72, "hours", "Hours"),
                              column(minutes, 59, "minutes", "Minutes")}),
                      caption.font(Font::style(TextStyle::caption))
                          .foregroundStyle(Hierarchy::secondary),
                      HStack({
                          Button("Cancel", [this] { cancel(); })
                              .keyboardShortcut(KeyboardShortcut::cancelAction()),
                          Button("Set", [this] { set(); }),
                          Button("Set and Start", [this] { setAndStart(); })
                              .keyboardShortcut(KeyboardShortcut::defaultAction()),
                      }),
                  })
        .padding(22)
        .frame(360);
}

}  // namespace orvel
