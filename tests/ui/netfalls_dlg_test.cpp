#include "ui/dialogs/netfalls_dlg.h"

#include "app/control_ids.h"
#include "app/global.h"
#include "platform/platform_services.h"
#include "support/fake_clock.h"
#include "support/file_bytes.h"
#include "support/temp_dir.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTest>

namespace {

using namespace tn;
namespace id = tn::ids::netfalls;
using ui::CNetFalls;

std::string le64(std::int64_t v) {
    std::string s(8, '\0');
    for (int i = 0; i < 8; ++i)
        s[static_cast<std::size_t>(i)] =
            static_cast<char>(static_cast<std::uint64_t>(v) >> (8 * i));
    return s;
}

// 2015-01-05 10:11:12 UTC.
constexpr std::int64_t kT = 1420452672;

struct Rig {
    test::TzScope tz{"UTC0"};
    test::TempDir dir;
    test::TempPaths paths{dir.path()};
    test::FakeClock clock;
    std::unique_ptr<Platform> platform = createPlatform();
    std::unique_ptr<CGlobal> global;
    std::filesystem::path file;

    Rig() {
        clock.nowValue = kT + 86400;
        PlatformServices os;
        os.paths = &paths;
        os.clock = &clock;
        os.files = platform->services().files;
        global = std::make_unique<CGlobal>(os);
        file = global->dataFile(kOutageFileName);
    }
    void write(const std::vector<std::pair<std::int64_t, std::int64_t>>& recs) {
        std::string bytes;
        for (const auto& [a, b] : recs)
            bytes += le64(a) + le64(b);
        test::writeText(file, bytes);
    }
    std::unique_ptr<CNetFalls> open(ui::NetFallsHooks hooks = {}) {
        return std::make_unique<CNetFalls>(*global, clock, nullptr, std::move(hooks));
    }
};

QString label(CNetFalls& d, int i) {
    return static_cast<QLabel*>(d.control(i))->text();
}

QString cell(CNetFalls& d, int row, int col) {
    return d.model().data(d.model().index(row, col)).toString();
}

QMessageBox* findBox(const char* name) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w);
            box && box->objectName() == name && box->isVisible())
            return box;
    return nullptr;
}

void closeBoxes() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w))
            box->close();
}

} // namespace

class NetFallsDlgTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { closeBoxes(); }

    void noFile_emptyListAndDottedTotals_layoutAsDescribed() {
        Rig rig;
        auto d = rig.open();
        QCOMPARE(d->windowTitle(), QString("NetFalls list"));
        QCOMPARE(d->model().rowCount(), 0);
        QCOMPARE(label(*d, id::kCount), QString(".."));
        QCOMPARE(label(*d, id::kDuration), QString(".."));
        QTableView* list = d->list();
        QCOMPARE(list->objectName(), QString("1023"));
        const char* headings[] = {"No", "Start Date", "Stop Date", "TimeSpan"};
        const int widths[] = {30, 190, 190, 70};
        for (int c = 0; c < 4; ++c) {
            QCOMPARE(d->model().headerData(c, Qt::Horizontal).toString(), QString(headings[c]));
            QCOMPARE(list->columnWidth(c), widths[c]);
        }
        QCOMPARE(list->palette().color(QPalette::Base), QColor(165, 165, 165));
        QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(list->selectionMode(), QAbstractItemView::SingleSelection);
        auto* filter = static_cast<QComboBox*>(d->control(id::kFilter));
        QCOMPARE(filter->count(), 5);
        QCOMPARE(filter->itemText(4), QString("More filters"));
        QCOMPARE(filter->currentIndex(), 0);
        for (int i : {1033, 1034, 1035, 1036, 1037, 1038, 1039, 1040, 1041})
            QVERIFY(d->control(i)->isHidden());
        QCOMPARE(static_cast<QDateEdit*>(d->control(id::kStartDate))->displayFormat(),
                 QString("dd/MM/yyyy"));
        QCOMPARE(static_cast<QDateEdit*>(d->control(id::kStopDate))->date(), QDate(2015, 1, 6));
        QCOMPARE(static_cast<QLineEdit*>(d->control(id::kMinDuration))->text(), QString("0"));
        for (QWidget* w : d->findChildren<QWidget*>()) {
            if (w->parentWidget() != d.get())
                continue;
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
            QVERIFY2(a && !a->text(QAccessible::Name).isEmpty(), qPrintable(w->objectName()));
        }
    }

    void rowsInFileOrder_withTotals() {
        Rig rig;
        rig.write({{kT, kT + 48}, {kT + 65, kT}, {kT, kT + 25 * 3600}});
        auto d = rig.open();
        QCOMPARE(d->model().rowCount(), 3);
        QCOMPARE(cell(*d, 0, 0), QString("1"));
        QCOMPARE(cell(*d, 0, 1), QString("Monday, January 05, 2015 10:11:12"));
        QCOMPARE(cell(*d, 0, 2), QString("Monday, January 05, 2015 10:12:00"));
        QCOMPARE(cell(*d, 1, 3), QString("00:-1:-5"));
        QCOMPARE(cell(*d, 2, 3), QString("01:00:00"));
        QCOMPARE(label(*d, id::kCount), QString("3"));
        QCOMPARE(label(*d, id::kDuration), QString("1:00:59:43")); // 48 - 65 + 90000 seconds
    }

    void invalidRecord_yesKeepsTheFileAside_noShowsWhatWasRead() {
        Rig rig;
        rig.write({{kT, kT + 10}, {-1, kT}});
        const std::string bytes = test::readText(rig.file);
        int asked = 0;
        ui::NetFallsHooks hooks;
        hooks.confirmSetAside = [&] { return ++asked, false; };
        auto no = rig.open(hooks);
        QCOMPARE(asked, 1);
        QCOMPARE(no->model().rowCount(), 1);
        QCOMPARE(label(*no, id::kCount), QString("1"));
        QVERIFY(std::filesystem::exists(rig.file));

        no->hooks.confirmSetAside = [] { return true; };
        static_cast<QLabel*>(no->control(id::kCount))->setText("..");
        no->loadList();
        QCOMPARE(no->model().rowCount(), 1);             // the rows read so far stay
        QCOMPARE(label(*no, id::kCount), QString("..")); // the totals are not updated
        QVERIFY(!std::filesystem::exists(rig.file));
        std::vector<std::filesystem::path> aside;
        for (const auto& e : std::filesystem::directory_iterator(rig.file.parent_path()))
            if (e.path().filename().string().starts_with("NetFalls.dat.bad-"))
                aside.push_back(e.path());
        QCOMPARE(aside.size(), std::size_t(1));
        QCOMPARE(test::readText(aside[0]), bytes);
    }

    void linkInPlaceOfTheFile_isNamedNotAskedAbout_andLeftAlone() {
        Rig rig;
        const std::filesystem::path target = rig.dir.path() / "elsewhere";
        test::writeText(target, le64(kT) + le64(kT + 10));
        std::filesystem::create_directories(rig.file.parent_path());
        std::filesystem::create_symlink(target, rig.file);
        int asked = 0;
        ui::NetFallsHooks hooks;
        hooks.confirmSetAside = [&] { return ++asked, true; };
        auto d = rig.open(hooks);
        QCOMPARE(asked, 0);
        QCOMPARE(d->model().rowCount(), 0);
        QVERIFY(findBox("notRegular"));
        QVERIFY(findBox("notRegular")->text().contains(QString::fromStdString(rig.file.string())));
        QVERIFY(std::filesystem::is_symlink(rig.file));
        QCOMPARE(test::readText(target), le64(kT) + le64(kT + 10));
        findBox("notRegular")->close();
    }

    void moreFilters_showTheGroupWithoutReloading_sortApplies() {
        Rig rig;
        rig.write({{kT, kT + 30}, {kT + 3600, kT + 3700}});
        auto d = rig.open();
        auto* filter = static_cast<QComboBox*>(d->control(id::kFilter));
        filter->setCurrentIndex(4);
        QVERIFY(!d->control(id::kSort)->isHidden());
        QCOMPARE(d->model().rowCount(), 2);
        static_cast<QDateEdit*>(d->control(id::kStartDate))->setDate(QDate(2015, 1, 5));
        static_cast<QDateEdit*>(d->control(id::kStopDate))->setDate(QDate(2015, 1, 5));
        static_cast<QLineEdit*>(d->control(id::kMinDuration))->setText("60");
        static_cast<QPushButton*>(d->control(id::kSort))->click();
        QCOMPARE(d->model().rowCount(), 1);
        QCOMPARE(label(*d, id::kDuration), QString("0:00:01:40"));

        d->show();
        static_cast<QLineEdit*>(d->control(id::kMinDuration))->clear();
        static_cast<QPushButton*>(d->control(id::kSort))->click();
        QVERIFY(findBox("notAnInteger"));
        QCOMPARE(findBox("notAnInteger")->text(), QString("Please enter an integer."));
        QCOMPARE(d->model().rowCount(), 1); // 60 stays in force
        closeBoxes();

        filter->setCurrentIndex(0);
        QVERIFY(d->control(id::kSort)->isHidden());
        QCOMPARE(d->model().rowCount(), 2);
    }

    void export_writesTheShownRows_thenOpensTheFile() {
        Rig rig;
        rig.write({{kT, kT + 48}});
        auto d = rig.open();
        const QString path = QString::fromStdString((rig.dir / "out").string()); // no extension
        QString opened;
        d->hooks.chooseExportFile = [&] { return path; };
        d->hooks.openExported = [&](const QString& p) { opened = p; };
        d->exportList();
        QCOMPARE(opened, path);
        const std::string expected =
            "File generated by Tallynet -> file:///usr/share/tallynet/readme.doc\r\n\r\n"
            "1   | Monday, January 05, 2015 10:11:12        | Monday, January 05, 2015 "
            "10:12:00        | 00:00:48  | \r\n\r\nTotal Time : 0:00:00:48  <- i pay for this "
            "Mr. ISP";
        QCOMPARE(test::readText(rig.dir / "out"), expected);

        d->hooks.chooseExportFile = [] { return QString(); }; // cancelled
        opened.clear();
        d->exportList();
        QVERIFY(opened.isEmpty());
    }

    void export_unwritablePlace_isReportedWithThePathAndTheReason() {
        Rig rig;
        auto d = rig.open();
        d->show();
        const QString path = QString::fromStdString((rig.dir / "missing" / "out.txt").string());
        bool opened = false;
        d->hooks.chooseExportFile = [&] { return path; };
        d->hooks.openExported = [&](const QString&) { opened = true; };
        d->exportList();
        QVERIFY(!opened);
        QMessageBox* box = findBox("exportFailed");
        QVERIFY(box);
        QVERIFY(box->text().contains(path));
        QVERIFY(box->text().size() > path.size() + 16);
    }
};

QTEST_MAIN(NetFallsDlgTest)
#include "netfalls_dlg_test.moc"
