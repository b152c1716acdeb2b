#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include "app/dialog_templates.h"
#include "app_test_support.h"
#include "support/loopback_http_server.h"

namespace tarnwick::testing {
namespace {

QString textOf(const MainDialog& dialog, int id) {
  if (auto* edit = dialog.control<QLineEdit>(id)) return edit->text();
  if (auto* label = dialog.control<QLabel>(id)) return label->text();
  return dialog.control<QPushButton>(id)->text();
}

void pressKey(QWidget* target, Qt::Key key) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(target, &press);
}

// Lets the dialog tick until `done` holds; gives up after half a minute.
bool tickUntil(MainDialog& dialog, const std::function<bool()>& done) {
  for (int i = 0; i < 3000 && !done(); ++i) {
    dialog.tick();
    QApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

using MainDialogTest = AppTest;

TEST_F(MainDialogTest, EmptyStoreOpensWithTheDefaults) {
  MainDialog dialog(services());
  EXPECT_EQ(textOf(dialog, kStartUrlEdit), "http://");
  for (int c = 0; c < 8; ++c) {
    EXPECT_EQ(dialog.control<QCheckBox>(kHtmlCheck + c)->isChecked(), c == 2) << c;
  }
  const int sizeEdits[] = {kHtmlSizeEdit,  kTxtSizeEdit,     kMidiSizeEdit, kAudioSizeEdit,
                           kVideoSizeEdit, kRealoneSizeEdit, kZipSizeEdit};
  for (int id : sizeEdits) EXPECT_EQ(textOf(dialog, id), "0") << id;
  EXPECT_EQ(textOf(dialog, kImgSizeEdit), "64");
  EXPECT_EQ(textOf(dialog, kDepthEdit), "4");
  EXPECT_TRUE(dialog.control<QRadioButton>(kTreeRadio)->isChecked());
  EXPECT_EQ(textOf(dialog, kStatusLine), "");
  EXPECT_EQ(dialog.focusWidget(), dialog.control(kStartUrlEdit));
  EXPECT_TRUE(stored().allKeys().isEmpty());
}

TEST_F(MainDialogTest, OnlyTheSavingEndingsWriteTheForm) {
  const struct {
    const char* name;
    std::function<void(MainDialog&)> end;
    int answer;  // to the exit confirmation, should it open
    bool saved;
    bool stillOpen;
  } cases[] = {
      {"close box", [](MainDialog& d) { d.close(); }, kCancelId, true, false},
      {"exit, yes", [](MainDialog& d) { d.control<QPushButton>(kExitButton)->click(); }, kOkId,
       true, false},
      {"exit, no", [](MainDialog& d) { d.control<QPushButton>(kExitButton)->click(); }, kCancelId,
       false, true},
      {"Enter in the URL, no",
       [](MainDialog& d) { pressKey(d.control(kStartUrlEdit), Qt::Key_Return); }, kCancelId, false,
       true},
      {"Escape", [](MainDialog& d) { pressKey(&d, Qt::Key_Escape); }, kOkId, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    stored().clear();
    {
      QSettings before = stored();
      before.setValue("Tarnwick/counter", 7);
      before.setValue("Tarnwick/download_img", 5);
      before.setValue("Tarnwick/download_zip", 1);
    }
    MainDialog dialog(services());
    dialog.show();
    EXPECT_FALSE(dialog.control<QCheckBox>(kHtmlCheck + 2)->isChecked());
    dialog.control<QLineEdit>(kStartUrlEdit)->setText("http://a.test/");
    dialog.control<QRadioButton>(kDateRadio)->setChecked(true);
    ModalAnswerer answerer(c.answer);
    c.end(dialog);

    EXPECT_EQ(dialog.isVisible(), c.stillOpen);
    const QSettings after = stored();
    EXPECT_EQ(after.value("Tarnwick/counter").toInt(), c.saved ? 8 : 7);
    EXPECT_EQ(after.contains("Tarnwick/start_url"), c.saved);
    if (c.saved) {
      EXPECT_EQ(after.value("Tarnwick/start_url").toString(), "http://a.test/");
      EXPECT_EQ(after.value("Tarnwick/save_mode_tree").toInt(), 0);
      EXPECT_EQ(after.value("Tarnwick/download_img").toInt(), 0);
      EXPECT_EQ(after.value("Tarnwick/download_zip").toInt(), 1);
      EXPECT_EQ(after.value("Tarnwick/download_img_size").toInt(), 64);
      EXPECT_EQ(after.allKeys().size(), 20);
    }
  }
}

TEST_F(MainDialogTest, UnreadableNumberStopsTheReadingAndStartsNoCrawl) {
  const struct {
    const char* depth;
    const char* imgSize;
    bool failsAtDepth;
  } cases[] = {{"abc", "99", true}, {"", "99", true}, {"12abc", "x1", false}};
  for (const auto& c : cases) {
    stored().clear();
    ScriptedMessageBox messages;
    AppServices withMessages{*profile_, shell_, messages};
    MainDialog dialog(withMessages);
    dialog.control<QLineEdit>(kHtmlSizeEdit)->setText(" 5");  // read before the failing field
    dialog.control<QLineEdit>(kDepthEdit)->setText(c.depth);
    dialog.control<QLineEdit>(kImgSizeEdit)->setText(c.imgSize);  // read last
    dialog.control<QPushButton>(kRunButton)->click();

    EXPECT_EQ(textsOf(messages), std::vector<std::string>{"正の整数を入力してください。"});
    EXPECT_FALSE(dialog.runActive());
    EXPECT_EQ(textOf(dialog, kRunButton), "実　行");
    auto* failing = dialog.control<QLineEdit>(c.failsAtDepth ? kDepthEdit : kImgSizeEdit);
    EXPECT_EQ(dialog.focusWidget(), failing);
    EXPECT_EQ(failing->selectedText(), failing->text());

    dialog.close();  // saves what was read; the rest keeps its earlier values
    EXPECT_EQ(stored().value("Tarnwick/download_html_size").toInt(), 5);
    EXPECT_EQ(stored().value("Tarnwick/depth").toInt(), c.failsAtDepth ? 4 : 12);
    EXPECT_EQ(stored().value("Tarnwick/download_img_size").toInt(), 64);
  }
}

TEST_F(MainDialogTest, IntroductionOpensOnTheEleventhTickOfCounterSeven) {
  const struct {
    int counter;
    bool opens;
  } cases[] = {{0, false}, {6, false}, {7, true}, {8, false}, {17, true}, {-3, false}, {-7, false}};
  for (const auto& c : cases) {
    stored().setValue("Tarnwick/counter", c.counter);
    MainDialog dialog(services());
    ModalAnswerer answerer(kCancelId);
    for (int i = 0; i < 10; ++i) dialog.tick();
    EXPECT_TRUE(answerer.titles.empty()) << c.counter;
    for (int i = 0; i < 5; ++i) dialog.tick();
    EXPECT_EQ(answerer.titles.size(), c.opens ? 1u : 0u) << c.counter;
  }
  EXPECT_TRUE(shell_.opened.empty());
}

class CrawlTest : public AppTest {
 protected:
  // Points the form at the server's start page, images from 64 KB on.
  void startCrawl(MainDialog& dialog) {
    dialog.control<QLineEdit>(kStartUrlEdit)->setText(QString::fromStdString(url("/index.html")));
    dialog.control<QPushButton>(kRunButton)->click();
  }
  std::string url(const std::string& path) const { return server_.url(path); }
  bool downloading(const MainDialog& dialog, const std::string& path) const {
    return textOf(dialog, kStatusLine) == "ダウンロード中..." &&
           textOf(dialog, kParameterLine).toStdString() == url(path);
  }

  LoopbackHttpServer server_;
  const std::string image_ = std::string(70 * 1024, 'i');
};

TEST_F(CrawlTest, RunPressCrawlsUntilFinishedAndListsTheDownloads) {
  server_.serveFiles({{"/index.html", R"(<img src="a.png"><img src="b.png">)"},
                      {"/a.png", image_},
                      {"/b.png", image_}});
  MainDialog dialog(services());
  startCrawl(dialog);
  EXPECT_TRUE(dialog.runActive());
  EXPECT_EQ(textOf(dialog, kRunButton), "停 止");

  ASSERT_TRUE(tickUntil(dialog, [&] { return !dialog.runActive(); }));
  auto* list = dialog.control<QListWidget>(kResultList);
  ASSERT_EQ(list->count(), 2);
  EXPECT_EQ(list->item(0)->text().toStdString(), url("/a.png"));
  EXPECT_EQ(list->item(1)->text().toStdString(), url("/b.png"));
  EXPECT_EQ(list->currentRow(), 1);
  EXPECT_EQ(textOf(dialog, kRunButton), "実　行");
  EXPECT_EQ(textOf(dialog, kStatusLine), "巡回ダウンロード終了");
  EXPECT_EQ(textOf(dialog, kParameterLine), "");
}

TEST_F(CrawlTest, StopPressEndsTheRunAfterTheCurrentFetch) {
  int bigRequests = 0;
  server_.setHandler([&](const std::string& path) -> std::optional<ScriptedResponse> {
    if (path == "/index.html")
      return ScriptedResponse::ok(R"(<img src="big.png"><img src="c.png">)");
    if (path == "/big.png" && bigRequests++ == 0) return ScriptedResponse::stalled(image_, 1024);
    return ScriptedResponse::ok(image_);
  });
  MainDialog dialog(services());
  startCrawl(dialog);
  ASSERT_TRUE(tickUntil(dialog, [&] { return downloading(dialog, "/big.png"); }));
  dialog.control<QPushButton>(kRunButton)->click();
  dialog.control<QPushButton>(kRunButton)->click();
  dialog.tick();
  EXPECT_TRUE(dialog.runActive());
  EXPECT_EQ(textOf(dialog, kRunButton), "停 止");

  server_.releaseStalledResponses();
  ASSERT_TRUE(tickUntil(dialog, [&] { return !dialog.runActive(); }));
  EXPECT_EQ(textOf(dialog, kRunButton), "実　行");
  for (const LoggedRequest& request : server_.requests()) EXPECT_NE(request.path, "/c.png");
}

TEST_F(CrawlTest, EndingDuringADownloadAbortsItAndWaitsForTheWorker) {
  std::atomic<int> bigRequests{0};
  server_.setHandler([&](const std::string& path) -> std::optional<ScriptedResponse> {
    if (path == "/index.html") return ScriptedResponse::ok(R"(<img src="big.png">)");
    const std::string body(64 << 20, 'v');
    if (bigRequests++ == 0) return ScriptedResponse::stalled(body, 1 << 20);
    return ScriptedResponse::ok(body);
  });
  // Should aborting not work, the stalled body is let go after half a minute, and noted.
  std::promise<void> ended;
  auto rescued = std::async(std::launch::async, [&, done = ended.get_future()] {
    if (done.wait_for(std::chrono::seconds(30)) == std::future_status::ready) return false;
    server_.releaseStalledResponses();
    return true;
  });
  MainDialog dialog(services());
  startCrawl(dialog);
  ASSERT_TRUE(tickUntil(dialog, [&] { return downloading(dialog, "/big.png"); }));
  pressKey(&dialog, Qt::Key_Escape);
  EXPECT_FALSE(dialog.runActive());
  EXPECT_FALSE(dialog.isVisible());
  ended.set_value();
  EXPECT_FALSE(rescued.get());
}

}  // namespace
}  // namespace tarnwick::testing
