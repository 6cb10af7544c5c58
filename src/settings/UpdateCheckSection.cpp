#include "settings/UpdateCheckSection.h"

#include "foundation/DateFormatting.h"
#include "foundation/Localization.h"
#include "help/EULAGate.h"

namespace orvel {

using namespace ui;

UpdateCheckSection::UpdateCheckSection(UserDefaults& defaults,
                                       std::function<void()> checkForUpdates)
    : schedule(*this, update_schedule::load(defaults)),
      defaults_(defaults),
      checkForUpdates_(std::move(checkForUpdates)) {}

View UpdateCheckSection::body() {
    std::vector<View> options;
    for (UpdateSchedule value : allCases<UpdateSchedule>()) {
        options.push_back(TextVerbatim(label(value)).tag(std::string(rawValue(value))));
    }
    Binding<std::string> selection{[this] { return std::string(rawValue(schedule())); },
                                   [this](const std::string& raw) {
                                       if (auto value = fromRaw<UpdateSchedule>(raw)) {
                                           schedule = *value;
                                           update_schedule::save(defaults_, *value);
                                       }
                                   }};
    const auto caption = [](const char* text) {
        return Text(text)
            .font(Font::style(TextStyle::caption))
            .foregroundStyle(Hierarchy::secondary);
    };
    return Group({
        HStack(VAlign::center, 8,
               {Button("Check for Updates\u2026", checkForUpdates_).disabled(),
                caption("Orvel is updated with your system's packages; About shows the installed "
                        "version.")}),
        Picker("Check in the background:", selection, std::move(options))
            .pickerStyle(PickerStyle::menu)
            .disabled()
            .frame(Frame().withMaxWidth(320)),
        caption("Never checks at launch. Background checking is off until you pick a schedule."),
    });
}

std::string AgreementRow::agreedText(LicenseAgreement& agreement) {
    const auto record = agreement.storedAssent();
    if (!record) {
        return localized("Not yet");
    }
    return localizedFormat("v%1$@ on %2$@",
                           {record->version, mediumDateShortTimeText(record->timestamp)});
}

View AgreementRow::body() {
    return Group({
        LabeledContent("Agreed", TextVerbatim(agreedText(agreement_))),
        Button("View License Agreement",
               [&agreement = agreement_] { agreement.showAgreementText(); }),
    });
}

}  // namespace orvel
