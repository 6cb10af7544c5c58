#include "settings/SettingsTransfer.h"

#include "app/compose/Services.h"
#include "core/ActivityLog.h"
#include "foundation/PollRunLoop.h"
#include "foundation/Registry.h"
#include "support/SettingsFixture.h"
#include "support/UiTest.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace orvel {

namespace SettingsTransfer {
void PrintTo(const Outcome& outcome, std::ostream* out) {
    *out << (outcome.failed ? "failed: " : "") << outcome.text;
}
}  // namespace SettingsTransfer

namespace {

using namespace SettingsTransfer;

class SettingsPanelsTest : public test::UiTest {
  protected:
    void SetUp() override {
        test::UiTest::SetUp();
        // The golden rules' headphones are paired here, so their rule arrives as it left.
        sim().bluetooth().pair({"AA:BB:CC:DD:EE:FF", "Phones", false});
    }

    Owners owners() { return services().settingsTransferOwners(); }
    std::string path(const std::string& name) const { return scratch() + "/" + name; }

    void writeData(const std::string& name, const Data& bytes) {
        ASSERT_TRUE(writeFileAtomically(path(name), bytes).ok());
    }

    // Types into the prompt's field and presses the button.
    static ui::AlertScript typeAndPress(std::string text, int response) {
        return [text, response](ui::HeadlessAlert& alert) {
            alert.setSecureText(text);
            return std::optional<int>(response);
        };
    }

    // Ticks (or not) the accessory's checkbox and types the passphrase.
    static ui::HeadlessHost::PanelStep encrypt(bool on, std::string passphrase) {
        return [on, passphrase](ui::Inspector& accessory) {
            EXPECT_TRUE(accessory.setToggle("Encrypt with a passphrase", on))
                << accessory.lastFailure();
            EXPECT_TRUE(accessory.type("Passphrase", passphrase)) << accessory.lastFailure();
        };
    }

    // Keeps what a panel tells; a panel that tells nothing leaves it empty.
    Told recordTo(std::optional<Outcome>& told) {
        told.reset();
        return [&told](const Outcome& outcome) { told = outcome; };
    }

    std::vector<std::string> alertMessages() const {
        std::vector<std::string> messages;
        for (const auto& alert : const_cast<SettingsPanelsTest*>(this)->host().alerts()) {
            messages.push_back(alert->content().messageText);
        }
        return messages;
    }

    // Everything an import could change, to compare before and after.
    struct Snapshot {
        DefaultsDictionary defaults;
        std::vector<TriggerRule> rules;
        std::vector<ActivityEntry> activity;
        bool operator==(const Snapshot&) const = default;
    };
    Snapshot snapshot() {
        loop().drain();
        return {sim().userDefaults().persistentDomain(), services().triggerEngine().rules(),
                services().activityLog().entries()};
    }
};

TEST_F(SettingsPanelsTest, TheExportPanelOffersTheFileNameAndTheEncryptionAccessory) {
    std::optional<bool> ticked;
    bool field = false;
    host().scriptSavePanel(std::nullopt, [&](ui::Inspector& accessory) {
        ticked = accessory.toggleValue("Encrypt with a passphrase");
        field = accessory.control("Passphrase").has_value();
    });
    runExportPanel(owners());
    loop().drain();
    ASSERT_EQ(host().savePanelsShown().size(), 1u);
    const auto& panel = host().savePanelsShown()[0];
    EXPECT_EQ(panel.title, "Export Orvel Settings");
    EXPECT_EQ(panel.nameFieldValue, "Orvel Settings.orvelconfig");
    EXPECT_EQ(ticked, std::optional(false));
    EXPECT_TRUE(field);
    EXPECT_TRUE(host().alerts().empty());
    EXPECT_TRUE(std::filesystem::is_empty(scratch()) ||
                !std::filesystem::exists(path("Orvel Settings.orvelconfig")));
}

TEST_F(SettingsPanelsTest, ExportWritesPlainSealedOrNothingAsTheAccessorySays) {
    test::setGoldenState(services());
    loop().drain();
    const Data expected = *exportData(owners(), std::nullopt);
    struct Case {
        const char* name;
        bool encrypt;
        const char* passphrase;
        enum { plain, sealed, nothing } outcome;
    };
    const std::vector<Case> cases = {
        {"unticked, empty", false, "", Case::plain},
        {"unticked with a passphrase", false, "secret", Case::plain},
        {"ticked, empty", true, "", Case::nothing},
        {"ticked with a passphrase", true, "secret", Case::sealed},
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = path("export-" + std::to_string(index++) + ".orvelconfig");
        const auto alertsBefore = host().alerts().size();
        host().scriptSavePanel(file, encrypt(c.encrypt, c.passphrase));
        if (c.outcome == Case::nothing) {
            host().scriptAlert(ui::HeadlessHost::answer(ui::kAlertFirstButtonReturn));
        }
        std::optional<Outcome> told;
        runExportPanel(owners(), recordTo(told));
        loop().drain();
        auto bytes = readFile(file);
        EXPECT_EQ(told,
                  (c.outcome == Case::nothing
                       ? Outcome{"Nothing was saved. \u201CEncrypt with a passphrase\u201D is "
                                 "ticked but the passphrase is empty.",
                                 true}
                       : Outcome{"Saved to " + file + ".", false}));
        switch (c.outcome) {
            case Case::plain:
                ASSERT_TRUE(bytes.ok());
                EXPECT_EQ(stringFromData(*bytes), stringFromData(expected));
                EXPECT_EQ(host().alerts().size(), alertsBefore);
                break;
            case Case::sealed: {
                ASSERT_TRUE(bytes.ok());
                auto derivation = sealedKeyDerivation(*bytes);
                ASSERT_TRUE(derivation.ok() && derivation->has_value());
                EXPECT_EQ((*derivation)->cost, KeyDerivation::kCost);
                auto opened = decodeFile(*bytes, std::string(c.passphrase));
                ASSERT_TRUE(opened.ok());
                EXPECT_EQ(stringFromData(*encodeFileWithKey(*opened, std::nullopt)),
                          stringFromData(expected));
                EXPECT_EQ(host().alerts().size(), alertsBefore);
                break;
            }
            case Case::nothing:
                EXPECT_FALSE(bytes.ok());
                ASSERT_EQ(host().alerts().size(), alertsBefore + 1);
                EXPECT_EQ(host().alerts().back()->content().messageText, "Enter a passphrase");
                EXPECT_EQ(host().alerts().back()->content().informativeText,
                          "\u201CEncrypt with a passphrase\u201D is ticked but the passphrase is "
                          "empty. Nothing was written.");
                break;
        }
    }
}

TEST_F(SettingsPanelsTest, AnExportThatCannotBeWrittenSaysWhyAndLeavesTheOldFileWhole) {
    // The target is a folder: the finished temporary file cannot replace it.
    std::filesystem::create_directories(path("taken.orvelconfig/inside"));
    writeData("blocker", dataFromString("a file"));
    for (const std::string& target : {path("taken.orvelconfig"), path("blocker/x.orvelconfig")}) {
        SCOPED_TRACE(target);
        const auto alertsBefore = host().alerts().size();
        host().scriptSavePanel(target);
        host().scriptAlert(ui::HeadlessHost::answer(ui::kAlertFirstButtonReturn));
        std::optional<Outcome> told;
        runExportPanel(owners(), recordTo(told));
        loop().drain();
        ASSERT_TRUE(told);
        EXPECT_TRUE(told->failed);
        EXPECT_EQ(told->text.rfind("Nothing was saved. Could not ", 0), 0u) << told->text;
        ASSERT_EQ(host().alerts().size(), alertsBefore + 1);
        EXPECT_EQ(host().alerts().back()->content().messageText,
                  "The settings file could not be written.");
        EXPECT_FALSE(host().alerts().back()->content().informativeText.empty());
    }
    EXPECT_TRUE(std::filesystem::is_directory(path("taken.orvelconfig/inside")));
    EXPECT_EQ(stringFromData(*readFile(path("blocker"))), "a file");
}

TEST_F(SettingsPanelsTest, TheImportPanelImportsAPlainFileWithoutAnAlertAndTellsWhatItTook) {
    // One of the file's two drives is listed here; of its 29 values, all but the three nothing
    // reads back are taken, and the drive interval.
    services().driveKeepAlive().drives = {test::goldenDrives()[0]};
    writeData("plain.orvelconfig", test::readSettingsData("plain.orvelconfig"));
    host().scriptOpenPanel(std::vector<std::string>{path("plain.orvelconfig")});
    std::optional<Outcome> told;
    runImportPanel(owners(), recordTo(told));
    loop().drain();
    EXPECT_EQ(told, (Outcome{"Imported 3 rules, 1 drive and 27 settings.", false}));
    EXPECT_EQ(sim().log().messages("settings").back(),
              "Settings imported from " + path("plain.orvelconfig") +
                  ": Imported 3 rules, 1 drive and 27 settings.");
    ASSERT_EQ(host().openPanelsShown().size(), 1u);
    EXPECT_EQ(host().openPanelsShown()[0].title, "Import Orvel Settings");
    EXPECT_FALSE(host().openPanelsShown()[0].allowsMultipleSelection);
    EXPECT_TRUE(host().alerts().empty());
    EXPECT_EQ(services().triggerEngine().rules(), test::goldenRules());
    EXPECT_EQ(services().activityLog().entries().front().title, "Settings imported");
}

TEST_F(SettingsPanelsTest, FilesThatDoNotImportChangeNothingAndSayWhy) {
    writeData("sealed.orvelconfig", test::readSettingsData("sealed-v1.orvelconfig"));
    writeData("garbage.orvelconfig", dataFromString("<plist/>"));
    writeData("huge.orvelconfig", dataFromString("{}"));
    std::filesystem::resize_file(path("huge.orvelconfig"), kMaxFileSize + 1);
    const std::string prompt = "Encrypted settings file";
    struct Case {
        const char* name;
        std::optional<std::string> file;
        std::vector<ui::AlertScript> answers;
        std::vector<std::string> messages;
        // The line beside the buttons; a cancelled panel or prompt tells nothing.
        std::optional<std::string> told;
    };
    const auto press = [](int response) { return ui::HeadlessHost::answer(response); };
    const std::vector<Case> cases = {
        {"panel cancelled", std::nullopt, {}, {}, std::nullopt},
        {"missing file",
         "missing.orvelconfig",
         {press(1000)},
         {"The file could not be read."},
         "Nothing was imported. Could not open " + path("missing.orvelconfig") +
             ": No such file or directory."},
        {"over 16 MiB",
         "huge.orvelconfig",
         {press(1000)},
         {"The file could not be read."},
         "Nothing was imported. The file is too large for a settings file (" +
             std::to_string(kMaxFileSize + 1) + " bytes, over the limit of 16 MiB)."},
        {"not a settings file",
         "garbage.orvelconfig",
         {press(1000)},
         {"This is not an Orvel settings file."},
         "Nothing was imported. This is not an Orvel settings file."},
        {"prompt cancelled",
         "sealed.orvelconfig",
         {typeAndPress("orvel golden passphrase", 1001)},
         {prompt},
         std::nullopt},
        {"wrong passphrase",
         "sealed.orvelconfig",
         {typeAndPress("guess", 1000), press(1000)},
         {prompt, "That passphrase does not decrypt this file."},
         "Nothing was imported. That passphrase does not decrypt this file."},
        {"empty passphrase",
         "sealed.orvelconfig",
         {typeAndPress("", 1000), press(1000)},
         {prompt, "This file is encrypted \u2014 enter its passphrase."},
         "Nothing was imported. This file is encrypted \u2014 enter its passphrase."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto before = snapshot();
        const auto alertsBefore = host().alerts().size();
        if (c.file) {
            host().scriptOpenPanel(std::vector<std::string>{path(*c.file)});
        } else {
            host().scriptOpenPanel(std::nullopt);
        }
        for (const auto& answer : c.answers) {
            host().scriptAlert(answer);
        }
        std::optional<Outcome> told;
        runImportPanel(owners(), recordTo(told));
        EXPECT_EQ(snapshot(), before);
        EXPECT_EQ(told, c.told ? std::optional(Outcome{*c.told, true}) : std::nullopt);
        std::vector<std::string> shown = alertMessages();
        shown.erase(shown.begin(), shown.begin() + static_cast<std::ptrdiff_t>(alertsBefore));
        EXPECT_EQ(shown, c.messages);
        EXPECT_EQ(host().unscriptedAlerts(), 0);
    }
    // The read failures carry their reason, the missing file's first.
    std::vector<std::string> reasons;
    for (const auto& alert : host().alerts()) {
        if (alert->content().messageText == "The file could not be read.") {
            reasons.push_back(alert->content().informativeText);
        }
    }
    ASSERT_EQ(reasons.size(), 2u);
    EXPECT_NE(reasons[0].find("No such file or directory"), std::string::npos) << reasons[0];
    EXPECT_EQ(reasons[1], "The file is too large for a settings file (" +
                              std::to_string(kMaxFileSize + 1) +
                              " bytes, over the limit of 16 MiB).");
}

TEST_F(SettingsPanelsTest, ThePassphrasePromptAsksOnceAndTheKeyIsMadeOffTheMainTurn) {
    writeData("sealed.orvelconfig", test::readSettingsData("sealed-v1.orvelconfig"));
    host().scriptOpenPanel(std::vector<std::string>{path("sealed.orvelconfig")});
    host().scriptAlert(typeAndPress("orvel golden passphrase", ui::kAlertFirstButtonReturn));
    std::optional<Outcome> told;
    runImportPanel(owners(), recordTo(told));
    ASSERT_EQ(host().alerts().size(), 1u);
    const auto& content = host().alerts()[0]->content();
    EXPECT_EQ(content.messageText, "Encrypted settings file");
    EXPECT_EQ(content.informativeText, "Enter the passphrase it was exported with.");
    EXPECT_EQ(content.buttons, (std::vector<std::string>{"Import", "Cancel"}));
    EXPECT_EQ(content.secureFieldPlaceholder, std::optional<std::string>(""));
    // Nothing is applied, nor told, until the worker's key is back on the main loop.
    EXPECT_TRUE(services().triggerEngine().rules().empty());
    EXPECT_FALSE(told);
    loop().drain();
    EXPECT_EQ(services().triggerEngine().rules(), test::goldenRules());
    EXPECT_EQ(host().alerts().size(), 1u);
    ASSERT_TRUE(told);
    EXPECT_EQ(told->text.rfind("Imported 3 rules, 0 drives and ", 0), 0u) << told->text;
}

TEST_F(SettingsPanelsTest, ASealedExportImportsWithItsPassphraseAndNotWithout) {
    test::setGoldenState(services());
    host().scriptSavePanel(path("moved.orvelconfig"), encrypt(true, "two machines"));
    runExportPanel(owners());
    loop().drain();
    const auto exported = exportDocument(owners());

    services().triggerEngine().deleteAll();
    services().preferences().lowBattPct = 50;
    const auto before = snapshot();
    host().scriptOpenPanel(std::vector<std::string>{path("moved.orvelconfig")});
    host().scriptAlert(typeAndPress("", ui::kAlertSecondButtonReturn));
    runImportPanel(owners());
    EXPECT_EQ(snapshot(), before);

    host().scriptOpenPanel(std::vector<std::string>{path("moved.orvelconfig")});
    host().scriptAlert(typeAndPress("two machines", ui::kAlertFirstButtonReturn));
    runImportPanel(owners());
    loop().drain();
    EXPECT_EQ(services().triggerEngine().rules(), exported.rules);
    EXPECT_EQ(services().preferences().lowBattPct(), 15);
    EXPECT_EQ(host().unscriptedAlerts(), 0);
}

// On the real loop the key is made on a worker thread of its own; the import finishes on the main
// loop and the worker's queue is let go there without waiting on itself.
TEST_F(SettingsPanelsTest, OnTheRealLoopASealedImportFinishesOnTheMainLoop) {
    RunLoop::install(std::make_unique<PollRunLoop>());
    auto& poll = static_cast<PollRunLoop&>(RunLoop::main());
    writeData("sealed.orvelconfig", test::readSettingsData("sealed-v2.orvelconfig"));
    host().scriptOpenPanel(std::vector<std::string>{path("sealed.orvelconfig")});
    host().scriptAlert(typeAndPress("orvel golden passphrase", ui::kAlertFirstButtonReturn));
    runImportPanel(owners());
    EXPECT_TRUE(poll.runFor(30, [this] { return !services().triggerEngine().rules().empty(); }));
    EXPECT_EQ(services().triggerEngine().rules(), test::goldenRules());
    EXPECT_EQ(host().alerts().size(), 1u);
}

}  // namespace
}  // namespace orvel
