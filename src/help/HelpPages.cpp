#include "help/HelpPages.h"

#include "ui/View.h"

namespace orvel::help {

using namespace ui;

namespace {

// Each page is a leading-aligned column of blocks.
View page(double spacing, std::vector<View> blocks) {
    return VStack(HAlign::leading, spacing, std::move(blocks));
}

constexpr double kPageSpacing = 14;

}  // namespace

View HelpWhatItDoes::body() const {
    return page(kPageSpacing, {});
}
View HelpTheMenu::body() const {
    return page(kPageSpacing, {});
}
View HelpSleepSwitches::body() const {
    return page(kPageSpacing, {});
}
View HelpDeviceSwitches::body() const {
    return page(kPageSpacing, {});
}
View HelpDurations::body() const {
    return page(kPageSpacing, {});
}
View HelpTriggers::body() const {
    return page(kPageSpacing, {});
}
View HelpDrives::body() const {
    return page(kPageSpacing, {});
}
View HelpBatteryPower::body() const {
    return page(kPageSpacing, {});
}
View HelpPermissions::body() const {
    return page(kPageSpacing, {});
}
View HelpCommandLine::body() const {
    return page(kPageSpacing, {});
}
View HelpPersistence::body() const {
    return page(kPageSpacing, {});
}
View HelpShortcuts::body() const {
    return page(kPageSpacing, {});
}
View HelpTroubleshooting::body() const {
    return page(16, {});
}
View HelpAccessibility::body() const {
    return page(kPageSpacing, {});
}
View HelpLanguages::body() const {
    return page(kPageSpacing, {});
}

View pageBody(HelpSection section) {
    switch (section) {
        case HelpSection::whatItDoes:
            return HelpWhatItDoes{}.body();
        case HelpSection::theMenu:
            return HelpTheMenu{}.body();
        case HelpSection::sleepSwitches:
            return HelpSleepSwitches{}.body();
        case HelpSection::deviceSwitches:
            return HelpDeviceSwitches{}.body();
        case HelpSection::durations:
            return HelpDurations{}.body();
        case HelpSection::triggers:
            return HelpTriggers{}.body();
        case HelpSection::drives:
            return HelpDrives{}.body();
        case HelpSection::batteryPower:
            return HelpBatteryPower{}.body();
        case HelpSection::permissions:
            return HelpPermissions{}.body();
        case HelpSection::commandLine:
            return HelpCommandLine{}.body();
        case HelpSection::persistence:
            return HelpPersistence{}.body();
        case HelpSection::shortcuts:
            return HelpShortcuts{}.body();
        case HelpSection::troubleshooting:
            return HelpTroubleshooting{}.body();
        case HelpSection::accessibility:
            return HelpAccessibility{}.body();
        case HelpSection::languages:
            return HelpLanguages{}.body();
        case HelpSection::acknowledgments:
            return HelpAcknowledgments{}.body();
    }
    return EmptyView();
}

}  // namespace orvel::help
