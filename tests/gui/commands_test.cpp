// The toolbar's commands by object name and by keyboard, and the settings
// dialog: its values checked as the command line checks them, written to
// qinglan.ini and used by the tasks started after OK.

#include <sys/stat.h>

#include <QAction>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTextBrowser>
#include <QToolBar>
#include <QTreeWidget>

#include <fstream>

#include "app/settings_dialog.h"
#include "engine/request.h"
#include "gui_fixture.h"
#include "services/charset.h"
#include "services/environment.h"
#include "storage/sqlite_store.h"

namespace qinglan {

class CommandsTest : public QObject, public WindowFixture {
    Q_OBJECT

private:
    // Runs `act` on the settings dialog once it is open; the dialog is
    // opened by its command and must be closed by `act`.
    bool with_settings(const std::function<void(SettingsDialog&)>& act) {
        bool acted = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<SettingsDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog != nullptr);
            act(*dialog);
            acted = true;
            if (dialog->isVisible()) {
                dialog->reject();
            }
        });
        window_->findChild<QAction*>("command_settings")->trigger();
        return acted;
    }

    static void set_field(SettingsDialog& dialog, const char* key, const QString& text) {
        auto* field = dialog.findChild<QLineEdit*>(key);
        QVERIFY2(field != nullptr, key);
        field->setText(text);
    }

    static void press_ok(SettingsDialog& dialog) {
        auto* buttons = dialog.findChild<QDialogButtonBox*>("settings_buttons");
        QTest::mouseClick(buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
    }

    std::string ini_value(const char* section, const char* key) {
        return read_ini_value(folder_->str() + "/qinglan.ini", section, key).value_or("(none)");
    }

private slots:
    void init() { init_fixture(); }
    void cleanup() { cleanup_fixture(); }

    // F1's window tells how to do a day's work, in Chinese, from the text
    // built into the program; pressed again it brings the same window up.
    void helpCoversTheDaysWork() {
        MainWindow& window = open_window();
        window.run_command(Command::kHelp);
        window.run_command(Command::kHelp);
        const QList<QWidget*> windows = window.findChildren<QWidget*>("帮助窗口");
        QCOMPARE(windows.size(), 1);
        QCOMPARE(windows[0]->windowTitle(), QString("帮助"));
        auto* browser = windows[0]->findChild<QTextBrowser*>("帮助内容");
        QVERIFY(browser != nullptr);
        const QString text = browser->toPlainText();
        for (const char* topic :
             {"客服信息", "继续", "停止", "排序", "筛选", "导出", "设置", "站点配置", "PostgreSQL",
              "qinglan collect", "qinglan export", "F1", "Ctrl+E"}) {
            QVERIFY2(text.contains(QString::fromUtf8(topic)), topic);
        }
        // Its links stay inside the text.
        QVERIFY(!browser->openExternalLinks());
        QVERIFY(dialogs_->messages.empty());
    }

    void commandsHaveNamesAndKeys() {
        MainWindow& window = open_window();
        const std::pair<const char*, QString> named[] = {
            {"command_search", "Ctrl+F"}, {"command_export", "Ctrl+E"}, {"command_help", "F1"},
            {"command_about", ""},        {"command_settings", ""},     {"command_quit", "Ctrl+Q"},
        };
        QList<QAction*> actions = window.findChild<QToolBar*>("工具条_顶部")->actions();
        QCOMPARE(actions.size(), 6);
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(actions[i]->objectName(), QString(named[i].first));
            QCOMPARE(actions[i]->shortcut().toString(), named[i].second);
        }
        // The caption is only what is shown.
        actions[2]->setText("Help");
        actions[2]->trigger();
        auto* help = window.findChild<QWidget*>("帮助窗口");
        QVERIFY(help != nullptr && help->isVisible());
        help->close();
        QTRY_VERIFY(window.findChild<QWidget*>("帮助窗口") == nullptr);

        // Keys reach the window whatever has the focus in it.
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        tabs()->setFocus();
        QTest::keyClick(&window, Qt::Key_F1);
        QVERIFY(window.findChild<QWidget*>("帮助窗口") != nullptr);
        QVERIFY(dialogs_->messages.empty());
        window.findChild<QWidget*>("帮助窗口")->close();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_E, Qt::ControlModifier);
        QCOMPARE(dialogs_->messages.size(), size_t(1));
        QVERIFY(dialogs_->messages[0].text.startsWith("请先选中"));
        bool searched = false;
        QTimer::singleShot(0, [&] {
            auto* search = qobject_cast<SearchWindow*>(QApplication::activeModalWidget());
            QVERIFY(search != nullptr);
            searched = true;
            QTest::keyClick(search, Qt::Key_Escape);
        });
        QTest::keyClick(&window, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(searched);
        QVERIFY(ended_.empty());
        window.activateWindow();  // as the window manager does once the search window is gone
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
        QCOMPARE(ended_, std::vector<int>{0});
    }

    void settingsAreCheckedWrittenAndUsed() {
        SampleMarketplace other;
        QVERIFY(other.start());
        serve_members(other, "换", "o", 2);
        open_window();
        // Keys of the file that the dialog does not show stay.
        write_ini_value(folder_->str() + "/qinglan.ini", "network", "proxy_user", "someone");

        const bool acted = with_settings([&](SettingsDialog& dialog) {
            QCOMPARE(dialog.windowTitle(), QString("设置"));
            QCOMPARE(dialog.findChild<QLineEdit*>("search_host")->text(),
                     QString::fromStdString(market_->search_host()));
            QCOMPARE(dialog.findChild<QLineEdit*>("parallel")->text(), QString("8"));
            // A bad number, then a bad proxy, then an empty host: each is
            // refused with the reason, and the dialog stays.
            set_field(dialog, "parallel", "0");
            press_ok(dialog);
            QVERIFY(dialog.isVisible());
            QCOMPARE(dialogs_->messages.size(), size_t(1));
            QCOMPARE(
                dialogs_->messages[0].text,
                QString("「每个关键字同时采集的用户数」的值不能使用：须为 1 到 64 之间的整数。"));
            QCOMPARE(dialogs_->messages[0].details,
                     QString("parallel takes a number of members from 1 to 64"));
            set_field(dialog, "parallel", "1");
            set_field(dialog, "proxy", "ftp://proxy.localhost:1");
            press_ok(dialog);
            QCOMPARE(dialogs_->messages.size(), size_t(2));
            QVERIFY(dialogs_->messages[1].text.startsWith("「代理」的值不能使用"));
            set_field(dialog, "proxy", "");
            set_field(dialog, "member_host", " ");
            press_ok(dialog);
            QCOMPARE(dialogs_->messages.size(), size_t(3));
            QCOMPARE(dialogs_->messages[2].text, QString("「会员主机」的值不能使用：不能为空。"));
            QVERIFY(!std::filesystem::exists(folder_->path() / "qinglan.ini") ||
                    ini_value("network", "parallel") == "(none)");
            // A cookies file that cannot be read.
            set_field(dialog, "member_host", QString::fromStdString(other.member_host()));
            set_field(dialog, "cookies", QString::fromStdString(folder_->str() + "/none.txt"));
            press_ok(dialog);
            QCOMPARE(dialogs_->messages.size(), size_t(4));
            QCOMPARE(dialogs_->messages[3].text, QString("无法读取 Cookie 文件。"));

            set_field(dialog, "cookies", "");
            // A database that is not a server's URL; a good one waits for the
            // next start, as the open database holds this window's tabs.
            set_field(dialog, "url", "mysql://db.localhost/team");
            press_ok(dialog);
            QCOMPARE(dialogs_->messages.size(), size_t(5));
            QVERIFY(
                dialogs_->messages[4].text.startsWith("「PostgreSQL 服务器（重新启动后生效）」"));
            set_field(dialog, "url", "postgresql://team@db.localhost:5432/qinglan");
            set_field(dialog, "search_host", QString::fromStdString(other.search_host()));
            set_field(dialog, "contact_domain", QString::fromStdString(other.contact_domain()));
            set_field(dialog, "delay", "20");
            set_field(dialog, "stall_timeout", "7");
            press_ok(dialog);
            QVERIFY(!dialog.isVisible());
        });
        QVERIFY(acted);
        QCOMPARE(dialogs_->messages.size(), size_t(5));
        QCOMPARE(ini_value("database", "url"),
                 std::string("postgresql://team@db.localhost:5432/qinglan"));
        QCOMPARE(window_->status_text(1), QString("设置已保存，数据库在重新启动后更换"));

        // Written to the file, in their sections; other keys kept.
        QCOMPARE(ini_value("hosts", "search_host"), other.search_host());
        QCOMPARE(ini_value("network", "parallel"), std::string("1"));
        QCOMPARE(ini_value("network", "delay"), std::string("20"));
        QCOMPARE(ini_value("network", "proxy"), std::string(""));
        QCOMPARE(ini_value("network", "proxy_user"), std::string("someone"));
        // Used from now on: the limits by every transfer, the hosts and the
        // members in flight by the next task.
        QCOMPARE(fetch_settings().delay_ms, 20L);
        QCOMPARE(fetch_settings().stall_seconds, 7L);
        QCOMPARE(fetch_settings().proxy_user, std::string("someone"));
        market_->clear_requests();
        submit_by_button("换");
        QTRY_COMPARE(window_->result_model(1)->rowCount(), 2);
        QVERIFY(market_->requests().empty());
        QCOMPARE(other.requests().size(), size_t(5));  // search, card and contact page twice
        QTRY_COMPARE(window_->status_text(1), QString("2位用户信息分析完成可以导出"));

        // The dialog opens again with what was saved; Cancel changes nothing.
        QVERIFY(with_settings([&](SettingsDialog& dialog) {
            QCOMPARE(dialog.findChild<QLineEdit*>("parallel")->text(), QString("1"));
            QCOMPARE(dialog.findChild<QLineEdit*>("url")->text(),
                     QString("postgresql://team@db.localhost:5432/qinglan"));
            set_field(dialog, "parallel", "3");
            dialog.reject();
        }));
        QCOMPARE(ini_value("network", "parallel"), std::string("1"));
    }

    void aHostWithAPathIsRefused() {
        open_window();
        QVERIFY(with_settings([&](SettingsDialog& dialog) {
            set_field(dialog, "search_host", "h:1/../x");
            press_ok(dialog);
            QVERIFY(dialog.isVisible());
            QCOMPARE(dialogs_->messages.size(), size_t(1));
            QVERIFY(
                dialogs_->messages[0].text.startsWith("「搜索主机」的值不能使用：须为主机[:端口]"));
            QVERIFY(dialogs_->messages[0].details.startsWith("search_host takes HOST[:PORT]"));
        }));
        QVERIFY(!std::filesystem::exists(folder_->path() / "qinglan.ini"));
    }

    void loginsAreMaskedAndKeptInAPrivateFile() {
        open_window();
        const std::string ini = folder_->str() + "/qinglan.ini";
        // A file written before, readable by everyone and without a password.
        write_ini_value(ini, "network", "proxy_user", "someone");
        ::chmod(ini.c_str(), 0644);
        QVERIFY(with_settings([&](SettingsDialog& dialog) {
            QCOMPARE(dialog.findChild<QLineEdit*>("proxy_user")->text(), QString("someone"));
            for (const char* key : {"proxy_password", "password"}) {
                QCOMPARE(dialog.findChild<QLineEdit*>(key)->echoMode(), QLineEdit::Password);
            }
            for (const char* key : {"proxy_user", "user"}) {
                QCOMPARE(dialog.findChild<QLineEdit*>(key)->echoMode(), QLineEdit::Normal);
            }
            set_field(dialog, "proxy_password", "pr:xy@pw");
            set_field(dialog, "url", "postgresql://db.localhost:5432/qinglan");
            set_field(dialog, "user", "team");
            set_field(dialog, "password", "db pass");
            press_ok(dialog);
            QVERIFY(!dialog.isVisible());
        }));
        QCOMPARE(ini_value("network", "proxy_user"), std::string("someone"));
        QCOMPARE(ini_value("network", "proxy_password"), std::string("pr:xy@pw"));
        QCOMPARE(ini_value("database", "user"), std::string("team"));
        QCOMPARE(ini_value("database", "password"), std::string("db pass"));
        QCOMPARE(ini_value("database", "url"),
                 std::string("postgresql://db.localhost:5432/qinglan"));
        QCOMPARE(fetch_settings().proxy_password, std::string("pr:xy@pw"));
        struct stat info {};
        QCOMPARE(::stat(ini.c_str(), &info), 0);
        QCOMPARE(info.st_mode & 0777, mode_t(0600));

        // A file the dialog creates is private from the start.
        std::filesystem::remove(ini);
        QVERIFY(with_settings([&](SettingsDialog& dialog) {
            QCOMPARE(dialog.findChild<QLineEdit*>("proxy_user")->text(), QString());
            press_ok(dialog);
        }));
        QCOMPARE(::stat(ini.c_str(), &info), 0);
        QCOMPARE(info.st_mode & 0777, mode_t(0600));
    }

    void aPageBudgetBelowThePageCapIsRefused() {
        open_window();
        const bool acted = with_settings([&](SettingsDialog& dialog) {
            QCOMPARE(dialog.findChild<QLineEdit*>("page_budget")->text(), QString("256"));
            set_field(dialog, "max_page_size", "32");
            set_field(dialog, "page_budget", "16");
            press_ok(dialog);
            QVERIFY(dialog.isVisible());
            QCOMPARE(dialogs_->messages.size(), size_t(1));
            QCOMPARE(dialogs_->messages[0].text,
                     QString("「全部页面的内存上限（MiB）」的值不能使用："
                             "须为不小于页面大小上限、不大于 65536 的整数。"));
            QCOMPARE(dialogs_->messages[0].details,
                     QString("page_budget takes a number of MiB from max_page_size (32) to 65536"));
            set_field(dialog, "page_budget", "64");
            press_ok(dialog);
            QVERIFY(!dialog.isVisible());
        });
        QVERIFY(acted);
        QCOMPARE(ini_value("network", "page_budget"), std::string("64"));
        QCOMPARE(fetch_settings().page_budget_bytes, std::size_t{64} << 20);
    }

    // A profile in qinglan.ini that does not load is said once at start,
    // and the built-in site reads the keywords.
    void aBadProfileAtStartKeepsTheBuiltInSite() {
        const std::string bad = folder_->str() + "/bad.ini";
        std::ofstream(bad) << "[site]\nname = x\n[fields]\n公司 = card (x)\n";
        Options options = settings();
        options.site_file = bad;
        window_ = std::make_unique<MainWindow>(options, *dialogs_);
        window_->prepare_database();
        QCOMPARE(dialogs_->messages.size(), size_t(1));
        QCOMPARE(dialogs_->messages[0].text,
                 QString::fromStdString("无法使用站点配置 " + bad + "，仍按内置站点采集。"));
        QVERIFY(dialogs_->messages[0].details.startsWith(QString::fromStdString(bad + ":4: ")));
        market_->set_resource("search/" + encode_keyword(utf8_to_gbk("手机")), "<p>none</p>");
        submit_by_button("手机");
        QTRY_VERIFY(!market_->requests().empty());
        QCOMPARE(market_->requests().front().resource_key,
                 "search/" + encode_keyword(utf8_to_gbk("手机")));
    }

    // The site is chosen in the settings: a profile that does not load is
    // refused there; one that loads reads the tasks started after it, and
    // a keyword collected from another site is not opened under it.
    void aSiteProfileIsChosenInTheSettings() {
        market_->serve_folder(std::string(QINGLAN_TEST_DATA) + "/marketplace");
        open_window();
        std::string error;
        {
            auto store = SqliteStore::open(folder_->str(), &error);
            QVERIFY2(store && store->ensure_table("手机", &error), error.c_str());
        }
        const std::string bad = folder_->str() + "/bad.ini";
        std::ofstream(bad) << "[site]\nname = x\n[search]\npages = 0\n";
        const std::string shop = std::string(QINGLAN_TEST_SOURCE) + "/../sites/sample_shop.ini";
        QVERIFY(with_settings([&](SettingsDialog& dialog) {
            QCOMPARE(dialog.findChild<QLineEdit*>("profile")->placeholderText(), QString("内置"));
            set_field(dialog, "profile", QString::fromStdString(bad));
            press_ok(dialog);
            QVERIFY(dialog.isVisible());
            QCOMPARE(dialogs_->messages.size(), size_t(1));
            QCOMPARE(dialogs_->messages[0].text, QString("无法使用站点配置。"));
            QVERIFY(dialogs_->messages[0].details.startsWith(QString::fromStdString(bad + ":4: ")));
            set_field(dialog, "profile", QString::fromStdString(shop));
            press_ok(dialog);
            QVERIFY(!dialog.isVisible());
        }));
        QCOMPARE(ini_value("site", "profile"), shop);

        submit_by_button("茶叶");
        QTRY_VERIFY(window_->result_model(1)->rowCount() > 0);
        auto* tasks = window_->findChild<QTreeWidget*>("超级列表框1");
        QTRY_COMPARE(tasks->topLevelItemCount(), 1);
        QVERIFY2(market_->requests().front().target.rfind("/shop/search?q=", 0) == 0,
                 market_->requests().front().target.c_str());
        QCOMPARE(tasks->topLevelItem(0)->toolTip(0), QString("茶叶\n站点：示例市场"));

        submit_by_button("手机");
        QCOMPARE(dialogs_->messages.size(), size_t(2));
        QCOMPARE(
            dialogs_->messages[1].text,
            QString("关键字「手机」是按站点配置「内置」采集的，不能按「示例市场」打开或继续采集。"
                    "可以先删除它，或换一个数据目录或数据库。"));
        QCOMPARE(tabs()->count(), 2);
    }
};

}  // namespace qinglan

int main(int argc, char** argv) {
    return qinglan::run_window_test<qinglan::CommandsTest>(argc, argv);
}

#include "commands_test.moc"
