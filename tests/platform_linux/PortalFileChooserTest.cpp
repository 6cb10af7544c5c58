#include "platform/linux/PortalFileChooser.h"

#include <gtest/gtest.h>

#include "support/BusTest.h"
#include "support/FileChooserMock.h"

namespace orvel {
namespace {

using test::BusTest;
using test::waitFor;
using Outcome = FileChooserAnswer::Outcome;

class PortalFileChooserTest : public BusTest {
  protected:
    Json lastRequest() { return test::fileChooserLastRequest(*probe); }
    void respond(std::uint32_t response, const std::vector<std::string>& uris) {
        test::fileChooserAnswer(*probe, "Respond", response, uris);
    }
    // Starts a dialog and waits until the portal has it.
    std::unique_ptr<PortalFileChooser> ask(const FileChooserRequest& request,
                                           std::optional<FileChooserAnswer>& answer) {
        auto chooser = std::make_unique<PortalFileChooser>(
            session, request, [&answer](FileChooserAnswer a) { answer = std::move(a); });
        EXPECT_TRUE(waitFor([&] { return !lastRequest().is_null() || answer; }));
        return chooser;
    }
};

TEST_F(PortalFileChooserTest, ASaveAndAnOpenHandTheirOptionsToThePortal) {
    startService("portal_file_chooser");
    FileChooserRequest save;
    save.kind = FileChooserRequest::Kind::save;
    save.parentWindow = "x11:4a00003";
    save.title = "Export Orvel Settings";
    save.acceptLabel = "Export";
    save.filters = {{"Orvel settings", {"*.orvelconfig", "*.json"}}};
    save.currentName = "Orvel Settings.orvelconfig";
    save.currentFolder = "/home/ana/Documents";
    std::optional<FileChooserAnswer> answer;
    auto chooser = ask(save, answer);
    Json seen = lastRequest();
    EXPECT_EQ(seen["method"], "SaveFile");
    EXPECT_EQ(seen["parent"], "x11:4a00003");
    EXPECT_EQ(seen["title"], "Export Orvel Settings");
    const Json& options = seen["options"];
    EXPECT_EQ(options["accept_label"], "Export");
    EXPECT_EQ(options["current_name"], "Orvel Settings.orvelconfig");
    EXPECT_EQ(options["current_folder"], "/home/ana/Documents");
    EXPECT_EQ(options["modal"], true);
    const Json filter = Json::parse(R"(["Orvel settings", [[0, "*.orvelconfig"], [0, "*.json"]]])");
    EXPECT_EQ(options["filters"], Json::array({filter}));
    EXPECT_EQ(options["current_filter"], filter);
    EXPECT_FALSE(options.contains("multiple")) << "a save has no such option";
    EXPECT_FALSE(answer) << "nothing is answered before the user is";

    FileChooserRequest open;
    open.title = "Import Orvel Settings";
    open.multiple = true;
    auto opening = ask(open, answer);
    seen = lastRequest();
    EXPECT_EQ(seen["method"], "OpenFile");
    EXPECT_EQ(seen["parent"], "");
    EXPECT_EQ(seen["options"]["multiple"], true);
    EXPECT_EQ(seen["options"]["directory"], false);
    for (const char* absent : {"accept_label", "filters", "current_name", "current_folder"}) {
        EXPECT_FALSE(seen["options"].contains(absent)) << absent << " left to the chooser";
    }
}

TEST_F(PortalFileChooserTest, TheResponseGivesTheChosenPathsOrNothing) {
    startService("portal_file_chooser");
    struct Case {
        std::uint32_t response;
        std::vector<std::string> uris;
        Outcome outcome;
        std::vector<std::string> paths;
    };
    const Case cases[] = {
        {0,
         {"file:///home/ana/My%20Settings.orvelconfig"},
         Outcome::chosen,
         {"/home/ana/My Settings.orvelconfig"}},
        {0,
         {"file:///tmp/a", "file://localhost/tmp/b%25", "https://example.org/c"},
         Outcome::chosen,
         {"/tmp/a", "/tmp/b%"}},
        {1, {}, Outcome::cancelled, {}},
        {2, {}, Outcome::cancelled, {}},
        {0, {"sftp://host/file"}, Outcome::cancelled, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("response " + std::to_string(c.response) + " with " +
                     std::to_string(c.uris.size()) + " places");
        std::optional<FileChooserAnswer> answer;
        int answers = 0;
        PortalFileChooser chooser(session, FileChooserRequest{}, [&](FileChooserAnswer a) {
            ++answers;
            answer = std::move(a);
        });
        ASSERT_TRUE(waitFor([&] { return !lastRequest().is_null(); }));
        // The answer is followed before the call goes out: it is heard whenever it comes.
        respond(c.response, c.uris);
        ASSERT_TRUE(waitFor([&] { return answer.has_value(); }));
        EXPECT_EQ(answer->outcome, c.outcome);
        EXPECT_EQ(answer->paths, c.paths);
        EXPECT_EQ(answers, 1);
        stopService("portal_file_chooser");
        startService("portal_file_chooser");
    }
}

TEST_F(PortalFileChooserTest, WithoutAPortalNothingIsShownAndTheCallerIsToldSo) {
    std::optional<FileChooserAnswer> answer;
    PortalFileChooser chooser(session, FileChooserRequest{},
                              [&](FileChooserAnswer a) { answer = std::move(a); });
    ASSERT_TRUE(waitFor([&] { return answer.has_value(); }));
    EXPECT_EQ(answer->outcome, Outcome::unavailable);
    EXPECT_NE(answer->reason.find("org.freedesktop.portal.Desktop"), std::string::npos)
        << answer->reason;

    std::optional<FileChooserAnswer> noBus;
    PortalFileChooser without(nullptr, FileChooserRequest{},
                              [&](FileChooserAnswer a) { noBus = std::move(a); });
    ASSERT_TRUE(noBus);
    EXPECT_EQ(noBus->outcome, Outcome::unavailable);
}

TEST_F(PortalFileChooserTest, APortalThatLeavesBeforeItAnswersCountsAsACancel) {
    startService("portal_file_chooser");
    std::optional<FileChooserAnswer> answer;
    PortalFileChooser chooser(session, FileChooserRequest{},
                              [&](FileChooserAnswer a) { answer = std::move(a); });
    ASSERT_TRUE(waitFor([&] { return !lastRequest().is_null(); }));
    stopService("portal_file_chooser");
    ASSERT_TRUE(waitFor([&] { return answer.has_value(); }));
    EXPECT_EQ(answer->outcome, Outcome::cancelled) << "the user is not asked again";
}

TEST_F(PortalFileChooserTest, ADialogDroppedBeforeItsAnswerIsClosed) {
    startService("portal_file_chooser");
    bool answered = false;
    auto chooser = std::make_unique<PortalFileChooser>(session, FileChooserRequest{},
                                                       [&](FileChooserAnswer) { answered = true; });
    ASSERT_TRUE(waitFor([&] { return !lastRequest().is_null(); }));
    chooser.reset();
    const auto closed = [&] {
        test::Reply reply = test::callAndWait(*probe, test::kFileChooserMock, "Closed");
        char** paths = nullptr;
        if (!reply || sd_bus_message_read_strv(reply.get(), &paths) < 0 || paths == nullptr) {
            return 0;
        }
        int n = 0;
        for (char** p = paths; *p != nullptr; ++p, ++n) {
            std::free(*p);
        }
        std::free(paths);
        return n;
    };
    EXPECT_TRUE(waitFor([&] { return closed() == 1; }));
    EXPECT_FALSE(answered);
}

}  // namespace
}  // namespace orvel
