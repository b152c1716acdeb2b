#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <filesystem>
#include <fstream>
#include <functional>
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

void click(const MainDialog& dialog, int id) { dialog.control<QPushButton>(id)->click(); }

void pressKey(QWidget* target, Qt::Key key, const QString& text = {}) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QApplication::sendEvent(target, &press);
}

class MainDialogTest : public AppTest {
 protected:
  // Lets the dialog tick until `done` holds; gives up after half a minute.
  static bool tickUntil(MainDialog& dialog, const std::function<bool()>& done) {
    for (int i = 0; i < 3000 && !done(); ++i) {
      dialog.tick();
      QApplication::processEvents();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
  }
  // Points the form at the server's start page and presses the run button.
  void startCrawl(MainDialog& dialog) {
    dialog.control<QLineEdit>(kStartUrlEdit)
        ->setText(QString::fromStdString(server_.url("/index.html")));
    click(dialog, kRunButton);
  }
  bool downloading(const MainDialog& dialog, const std::string& path) const {
    return textOf(dialog, kStatusLine) == "ダウンロード中..." &&
           textOf(dialog, kParameterLine).toStdString() == server_.url(path);
  }

  LoopbackHttpServer server_;
  const std::string image_ = std::string(70 * 1024, 'i');
};

// The form on one line, in window order: the texts of the URL, depth and threshold
// fields, then the two layout buttons and the eight category boxes as 0 or 1.
std::string shownForm(const MainDialog& dialog) {
  QString line;
  for (const auto* edit : dialog.findChildren<QLineEdit*>()) line += edit->text() + ' ';
  for (const auto* button : dialog.findChildren<QAbstractButton*>()) {
    if (button->isCheckable()) line += button->isChecked() ? '1' : '0';
  }
  return line.toStdString();
}

// A damaged settings file costs only the keys that cannot be read, and opening it writes nothing.
TEST_F(MainDialogTest, SettingsFileShowsEveryKeyThatCanBeRead) {
  const struct {
    const char* file;
    const char* shown;
  } cases[] = {
      {"", "http:// 4 0 0 64 0 0 0 0 0 1000100000"},
      {"[Tarnwick]\nstart_url=http://a.test/\ndownload_img_size=\"12\ndepth=9\ndownload_zip=1\n",
       "http://a.test/ 9 0 0 64 0 0 0 0 0 1000100001"},
      {"[Tarnwick]\ndepth=9\\\r\ndownload_txt_size=7\nsave_mode_tree=0;\"\\\n",
       "http:// 4 0 7 64 0 0 0 0 0 0100100000"},
      {"[Tarnwick]\ndepth=nine\ndownload_img=yes\ndownload_txt_size=7\n",
       "http:// 4 0 7 64 0 0 0 0 0 1000100000"},
      {"[Tarnwick]\ndownload_html=2\nsave_mode_tree=2\n", "http:// 4 0 0 64 0 0 0 0 0 1010100000"},
      {"[Tarnwick]\ndepth=99999999999\ndownload_img_size=4294967295\ndownload_zip_size=-1\n",
       "http:// 4 0 0 4294967295 0 0 0 0 4294967295 1000100000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       folder_.path().c_str() + QString("/%1").arg(&c - cases));
    const std::filesystem::path file = stored().fileName().toStdString();
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << c.file;
    profile_ = makeSettingsProfileStore("Corvane", "Tarnwick");
    MainDialog dialog(services());
    EXPECT_EQ(shownForm(dialog), c.shown);
    EXPECT_EQ(textOf(dialog, kStatusLine), "");
    EXPECT_EQ(dialog.focusWidget(), dialog.control(kStartUrlEdit));
    profile_.reset();
    EXPECT_EQ(contentOf(file), c.file);
  }
}

// The HTML threshold field never scrolls: a key that would not fit is refused alone.
TEST_F(MainDialogTest, HtmlSizeFieldKeepsTheDigitsThatFit) {
  MainDialog dialog(services());
  auto* edit = dialog.control<QLineEdit>(kHtmlSizeEdit);
  edit->clear();
  for (const QChar digit : QString("123456789012")) {
    pressKey(edit, Qt::Key(Qt::Key_0 + digit.digitValue()), digit);
  }
  EXPECT_EQ(edit->text().toStdString(), "12345678");  // a ninth digit would be cut off
}

TEST_F(MainDialogTest, OnlyTheSavingEndingsWriteTheForm) {
  const auto exitPress = [](MainDialog& d) { click(d, kExitButton); };
  const auto enterInUrl = [](MainDialog& d) { pressKey(d.control(kStartUrlEdit), Qt::Key_Return); };
  const struct {
    const char* name;
    std::function<void(MainDialog&)> end;
    int answer;  // to the exit confirmation, should it open
    bool saved;
    bool stillOpen;
  } cases[] = {
      {"close box", [](MainDialog& d) { d.close(); }, kCancelId, true, false},
      {"exit, yes", exitPress, kOkId, true, false},
      {"exit, no", exitPress, kCancelId, false, true},
      {"Enter in the URL, no", enterInUrl, kCancelId, false, true},
      {"Escape", [](MainDialog& d) { pressKey(&d, Qt::Key_Escape); }, kOkId, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    stored().clear();
    stored().setValue("Tarnwick/counter", 7);
    stored().setValue("Tarnwick/download_img", 5);
    stored().setValue("Tarnwick/download_zip", 1);
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
    EXPECT_EQ(after.allKeys().size(), c.saved ? 20 : 3);
    if (c.saved) {
      EXPECT_EQ(after.value("Tarnwick/start_url").toString(), "http://a.test/");
      EXPECT_EQ(after.value("Tarnwick/save_mode_tree").toInt(), 0);
      EXPECT_EQ(after.value("Tarnwick/download_img").toInt(), 0);
      EXPECT_EQ(after.value("Tarnwick/download_zip").toInt(), 1);
      EXPECT_EQ(after.value("Tarnwick/download_img_size").toInt(), 64);
    }
  }
}

TEST_F(MainDialogTest, UnreadableNumberStopsTheReadingAndStartsNoCrawl) {
  const struct {
    const char* depth;
    const char* imgSize;  // read after the depth
    int failing;
    int savedDepth;
  } cases[] = {
      {"abc", "99", kDepthEdit, 4}, {"", "99", kDepthEdit, 4}, {"12abc", "x1", kImgSizeEdit, 12}};
  for (const auto& c : cases) {
    stored().clear();
    ScriptedMessageBox messages;
    MainDialog dialog({*profile_, shell_, messages});
    dialog.control<QLineEdit>(kHtmlSizeEdit)->setText(" 5");  // read before the failing field
    dialog.control<QLineEdit>(kDepthEdit)->setText(c.depth);
    dialog.control<QLineEdit>(kImgSizeEdit)->setText(c.imgSize);
    click(dialog, kRunButton);

    EXPECT_EQ(messages.texts, std::vector{utf8ToCp932("正の整数を入力してください。")});
    EXPECT_FALSE(dialog.runActive());
    EXPECT_EQ(textOf(dialog, kRunButton), "実　行");
    auto* failing = dialog.control<QLineEdit>(c.failing);
    EXPECT_EQ(dialog.focusWidget(), failing);
    EXPECT_EQ(failing->selectedText(), failing->text());

    dialog.close();  // saves what was read; the rest keeps its earlier values
    EXPECT_EQ(stored().value("Tarnwick/download_html_size").toInt(), 5);
    EXPECT_EQ(stored().value("Tarnwick/depth").toInt(), c.savedDepth);
    EXPECT_EQ(stored().value("Tarnwick/download_img_size").toInt(), 64);
  }
}

TEST_F(MainDialogTest, IntroductionOpensOnTheEleventhTickOfCounterSeven) {
  const std::pair<int, bool> cases[] = {{0, false}, {6, false},  {7, true},  {8, false},
                                        {17, true}, {-3, false}, {-7, false}};
  for (const auto& [counter, opens] : cases) {
    stored().setValue("Tarnwick/counter", counter);
    MainDialog dialog(services());
    ModalAnswerer answerer(kCancelId);
    for (int i = 0; i < 10; ++i) dialog.tick();
    EXPECT_TRUE(answerer.titles.empty()) << counter;
    for (int i = 0; i < 5; ++i) dialog.tick();
    EXPECT_EQ(answerer.titles.size(), opens ? 1u : 0u) << counter;
  }
  EXPECT_TRUE(shell_.opened.empty());
}

// A stop press lets the download in progress finish; a second press, or ending the program,
// cuts it short at once. Nothing after it is fetched.
TEST_F(MainDialogTest, RunPressCrawlsUntilStoppedOrEnded) {
  server_.serveFiles({{"/index.html", R"(<img src="a.png"><img src="big.png"><img src="c.png">)"},
                      {"/a.png", image_},
                      {"/c.png", image_}});
  // Arrives 8 KiB at a time over half a second.
  server_.setResponse("/big.png", {.body = std::string(96 << 10, 'v'),
                                   .dripInterval = std::chrono::milliseconds(40),
                                   .dripBytes = 8 << 10});
  for (const int presses : {1, 2, 0}) {  // 0: Escape ends the program
    SCOPED_TRACE(presses);
    std::filesystem::remove_all("download");
    MainDialog dialog(services());
    bool closed = false;
    QObject::connect(&dialog, &QDialog::finished, [&] { closed = true; });
    startCrawl(dialog);
    EXPECT_EQ(textOf(dialog, kRunButton), "停 止");
    ASSERT_TRUE(tickUntil(dialog, [&] { return downloading(dialog, "/big.png"); }));
    if (presses == 0) pressKey(&dialog, Qt::Key_Escape);
    for (int press = 0; press < presses; ++press) click(dialog, kRunButton);
    EXPECT_TRUE(tickUntil(dialog, [&] { return !dialog.runActive(); }));
    EXPECT_EQ(closed, presses == 0);
    auto* list = dialog.control<QListWidget>(kResultList);
    ASSERT_EQ(list->count(), presses == 1 ? 2 : 1);
    EXPECT_EQ(list->item(list->count() - 1)->text().toStdString(),
              server_.url(presses == 1 ? "/big.png" : "/a.png"));
    EXPECT_EQ(list->currentRow(), list->count() - 1);
    EXPECT_EQ(textOf(dialog, kRunButton), "実　行");
    EXPECT_EQ(textOf(dialog, kStatusLine), "巡回ダウンロード終了");
    EXPECT_EQ(textOf(dialog, kParameterLine), "");
  }
  for (const LoggedRequest& request : server_.requests()) EXPECT_NE(request.path, "/c.png");
}

}  // namespace
}  // namespace tarnwick::testing
