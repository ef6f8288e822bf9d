// Both windows drawn in Fusion under a light and a dark colour scheme: every text the user reads
// (headings, the menu bar, captions, tabs, list headers, buttons, list cells, the editor's fields)
// must stand out from what is behind it, measured on the pixels drawn.
#include "form1_session.h"
#include "form2.h"
#include "test_main.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStyleFactory>
#include <QStyleOptionGroupBox>
#include <QTabBar>
#include <map>

namespace {

double luminance(QRgb c)
{
    const auto channel = [](int v) {
        const double s = v / 255.0;
        return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
}

double contrast(QRgb a, QRgb b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// Within `area` of a drawn window: the background is the commonest colour, the text the pixel
// that stands out most from it. 1 when nothing is drawn on the background.
double textContrast(const QImage& image, const QRect& area)
{
    std::map<QRgb, int> counts;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            ++counts[image.pixel(x, y) | 0xff000000];
    if (counts.empty())
        return 1;
    const QRgb background = std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) {
                                return a.second < b.second;
                            })->first;
    double best = 1;
    for (const auto& [colour, n] : counts)
        best = std::max(best, contrast(colour, background));
    return best;
}

struct Text
{
    QString what;
    QWidget* widget;
    QRect area; // in the widget's coordinates
    double least = 4.5;
};

// A dark scheme as GNOME's Adwaita-dark gives it to Qt.
QPalette darkPalette()
{
    QPalette p;
    const QColor window(0x35, 0x35, 0x35), base(0x2d, 0x2d, 0x2d), text(0xee, 0xee, 0xec);
    for (auto [role, colour] : std::initializer_list<std::pair<QPalette::ColorRole, QColor>>{
             {QPalette::Window, window},
             {QPalette::WindowText, text},
             {QPalette::Base, base},
             {QPalette::AlternateBase, window},
             {QPalette::Text, text},
             {QPalette::Button, window},
             {QPalette::ButtonText, text},
             {QPalette::BrightText, Qt::white},
             {QPalette::Highlight, QColor(0x15, 0x53, 0x9e)},
             {QPalette::HighlightedText, Qt::white},
             {QPalette::ToolTipBase, base},
             {QPalette::ToolTipText, text},
             {QPalette::PlaceholderText, QColor(0x91, 0x91, 0x91)},
             {QPalette::Light, QColor(0x45, 0x45, 0x45)},
             {QPalette::Midlight, QColor(0x40, 0x40, 0x40)},
             {QPalette::Mid, QColor(0x25, 0x25, 0x25)},
             {QPalette::Dark, QColor(0x1b, 0x1b, 0x1b)},
             {QPalette::Shadow, Qt::black},
         })
        p.setColor(role, colour);
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x91, 0x91, 0x91));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x91, 0x91, 0x91));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x91, 0x91, 0x91));
    return p;
}

QList<Text> mainWindowTexts(Form1& w)
{
    QList<Text> texts;
    for (QLabel* heading : {w.Label1, w.Label3})
        texts.append({heading->objectName(), heading, heading->rect()});
    texts.append({w.mnuTasks->objectName(), w.menuBar1,
                  w.menuBar1->actionGeometry(w.mnuTasks->menuAction())});
    for (QPushButton* button : w.findChildren<QPushButton*>())
        texts.append({button->objectName(), button, button->rect().adjusted(4, 4, -4, -4)});
    QTabBar* tabs = w.TabControl1->tabBar();
    for (int i = 0; i < tabs->count(); ++i)
        texts.append({tabs->tabText(i), tabs, tabs->tabRect(i).adjusted(4, 4, -4, -4)});
    QHeaderView* header = w.ListView1->header();
    for (int c = 0; c < header->count(); ++c)
        if (header->sectionSize(c) > 20)
            texts.append({QStringLiteral("header ") + QString::number(c), header,
                          QRect(header->sectionViewportPosition(c) + 3, 3,
                                header->sectionSize(c) - 6, header->height() - 6)});
    TaskListView* list = w.ListView1;
    for (int row = 0; row < list->tasks()->rowCount(); ++row)
        for (int c = 0; c < 4; ++c) {
            const QModelIndex cell = list->tasks()->index(row, c);
            if (cell.data().toString().isEmpty())
                continue;
            const bool overdue = c == DueDateCol && row == 0;
            texts.append({QStringLiteral("cell %1,%2").arg(row).arg(c), list->viewport(),
                          list->visualRect(cell).adjusted(1, 1, -1, -1), overdue ? 3.0 : 4.5});
        }
    return texts;
}

QList<Text> editorTexts(Form2& e)
{
    QList<Text> texts;
    for (QPushButton* button : e.findChildren<QPushButton*>())
        texts.append({button->objectName(), button, button->rect().adjusted(4, 4, -4, -4)});
    for (QGroupBox* frame : e.findChildren<QGroupBox*>()) {
        if (frame->title().isEmpty())
            continue;
        QStyleOptionGroupBox option;
        option.initFrom(frame);
        option.text = frame->title();
        option.subControls = QStyle::SC_GroupBoxLabel;
        texts.append({frame->objectName(), frame,
                      frame->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                     QStyle::SC_GroupBoxLabel, frame)});
    }
    for (QCheckBox* box : e.findChildren<QCheckBox*>()) {
        QStyleOptionButton option;
        option.initFrom(box);
        option.text = box->text();
        texts.append({box->objectName(), box,
                      box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box)});
    }
    for (QWidget* field : {static_cast<QWidget*>(e.Text1), static_cast<QWidget*>(e.Combo1)})
        texts.append({field->objectName(), field, field->rect().adjusted(3, 3, -3, -3)});
    return texts;
}

void checkAndKeep(QWidget* window, const QList<Text>& texts, const QString& picture)
{
    const QString folder = qEnvironmentVariable("KESTRUNE_SCREENSHOTS");
    if (!folder.isEmpty())
        window->grab().save(folder + u'/' + picture);
    QStringList unreadable;
    for (const Text& t : texts) {
        const double ratio = textContrast(t.widget->grab().toImage(), t.area);
        if (ratio < t.least)
            unreadable.append(QStringLiteral("%1 %2:1").arg(t.what).arg(ratio, 0, 'f', 2));
    }
    QVERIFY2(unreadable.isEmpty(), qPrintable(picture + u' ' + unreadable.join(u", ")));
}

} // namespace

class TestContrast : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        DueDates::setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
        Clock::setToday(QDate(2024, 6, 1));
    }
    void cleanupTestCase() { Clock::setToday({}); }

    void bothWindows_everyTextReadable_data()
    {
        QTest::addColumn<QPalette>("palette");
        QTest::newRow("light") << QApplication::style()->standardPalette();
        QTest::newRow("dark") << darkPalette();
    }
    void bothWindows_everyTextReadable()
    {
        QFETCH(QPalette, palette);
        QApplication::setPalette(palette);
        const QString scheme = QString::fromLatin1(QTest::currentDataTag());
        Form1Session s;
        const auto row = [](const QStringList& fields) {
            return fields.join(QStringLiteral("My_Separatora12")) +
                   QStringLiteral("My_Separatora08");
        };
        // Overdue, due today, due later, and no date.
        s.preset(QStringLiteral("1_Root_1"),
                 row({"Pay the invoice", "High", "Work", "5/2/2024", "late", "No"}) +
                     row({"Call Nessaly", "Medium", "Personal", "6/1/2024", "", "No"}) +
                     row({"Plan the trip", "Low", "Idea", "9/30/2024", "", "No"}) +
                     row({"Tidy the desk", "Lowest", "General", "", "", "Yes"}));
        Form1& w = s.startShown();
        QCOMPARE(w.ListView1->tasks()->rowCount(), 4);
        checkAndKeep(&w, mainWindowTexts(w), QStringLiteral("form1-%1.png").arg(scheme));

        Form2 editor(*s.store, w, &w);
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        editor.Text1->setText(QStringLiteral("Water the office plants"));
        checkAndKeep(&editor, editorTexts(editor), QStringLiteral("form2-%1.png").arg(scheme));
        editor.reject();
        QApplication::setPalette(QApplication::style()->standardPalette());
    }
};

KESTRUNE_TEST_MAIN(TestContrast)
#include "test_contrast.moc"
