// The due-date rule in two locales, with today set by the test.
#include "due_dates.h"
#include "test_main.h"

using DueDates::Colour;

class TestDueDates : public QObject
{
    Q_OBJECT

private slots:
    // Runs first, before any test sets a locale of its own.
    void dateFormat_followsLcTimeNotLang()
    {
        // main() started the program with LANG=en_US and LC_TIME=de_DE.
        QCOMPARE(DueDates::writeFormat(), QStringLiteral("dd.MM.yyyy"));
        QCOMPARE(DueDates::format(QDate(2026, 12, 7)), QStringLiteral("07.12.2026"));
    }

    void cleanup() { Clock::setToday({}); }

    void usEnglish_writesFourDigitYearsAndReadsShortDaysAndMonths()
    {
        DueDates::setLocale(QLocale(QStringLiteral("en_US")));
        QCOMPARE(DueDates::writeFormat(), QStringLiteral("M/d/yyyy"));
        QCOMPARE(DueDates::format(QDate(2026, 12, 7)), QStringLiteral("12/7/2026"));
        QCOMPARE(DueDates::format(QDate(2027, 1, 31)), QStringLiteral("1/31/2027"));
        QCOMPARE(DueDates::parse(QStringLiteral("12/7/2026")), QDate(2026, 12, 7));
        QCOMPARE(DueDates::parse(QStringLiteral("12/07/2026")), QDate(2026, 12, 7));
        QCOMPARE(DueDates::parse(QStringLiteral(" 1/31/2027 ")), QDate(2027, 1, 31));
        QCOMPARE(DueDates::parse(QStringLiteral("2026-12-07")), QDate(2026, 12, 7));
        // Written dates read back as the same day, also the last of a leap year's February.
        for (const QDate& d : {QDate(2028, 2, 29), QDate(1999, 12, 31), QDate(2100, 1, 1)})
            QCOMPARE(DueDates::parse(DueDates::format(d)), d);
    }

    void germanDates_readWithOneOrTwoDigitDaysAndMonths()
    {
        DueDates::setLocale(QLocale(QStringLiteral("de_DE")));
        QCOMPARE(DueDates::writeFormat(), QStringLiteral("dd.MM.yyyy"));
        QCOMPARE(DueDates::format(QDate(2026, 3, 5)), QStringLiteral("05.03.2026"));
        QCOMPARE(DueDates::parse(QStringLiteral("7.12.2026")), QDate(2026, 12, 7));
        QCOMPARE(DueDates::parse(QStringLiteral("07.12.2026")), QDate(2026, 12, 7));
        QCOMPARE(DueDates::parse(QStringLiteral("2026-12-07")), QDate(2026, 12, 7));
        // The other locale's form is not a German date (12th month 7 is no month 12 day 7).
        QCOMPARE(DueDates::parse(QStringLiteral("12/7/2026")), std::nullopt);
        QCOMPARE(DueDates::parse(QStringLiteral("7.13.2026")), std::nullopt);
    }

    void notDates_areNotDates_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        for (const char* locale : {"en_US", "de_DE"}) {
            const auto row = [&](const char* name, const char* text) {
                QTest::addRow("%s %s", locale, name)
                    << QString::fromLatin1(locale) << QString::fromLatin1(text);
            };
            row("empty", "");
            row("blank", "   ");
            row("word", "tomorrow");
            row("two-digit year", locale[0] == 'e' ? "12/7/26" : "07.12.26");
            row("no such day", locale[0] == 'e' ? "2/30/2026" : "30.02.2026");
            row("three-digit day", locale[0] == 'e' ? "12/007/2026" : "007.12.2026");
            row("trailing text", locale[0] == 'e' ? "12/7/2026x" : "07.12.2026x");
            row("bad iso", "2026-13-01");
            row("five-digit year", locale[0] == 'e' ? "12/7/20260" : "07.12.20260");
        }
    }
    void notDates_areNotDates()
    {
        QFETCH(QString, locale);
        QFETCH(QString, text);
        DueDates::setLocale(QLocale(locale));
        QCOMPARE(DueDates::parse(text), std::nullopt);
        QCOMPARE(DueDates::colourFor(text), Colour::Untouched);
    }

    void colour_isRedBeforeTodayAndBlackFromToday_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("yesterday");
        QTest::addColumn<QString>("today");
        QTest::addColumn<QString>("tomorrow");
        // Today is 1 March 2028 (the day after a leap day).
        QTest::newRow("en_US") << "en_US"
                               << "2/29/2028"
                               << "3/1/2028"
                               << "3/2/2028";
        QTest::newRow("de_DE") << "de_DE"
                               << "29.02.2028"
                               << "1.3.2028"
                               << "02.03.2028";
        QTest::newRow("iso") << "de_DE"
                             << "2028-02-29"
                             << "2028-03-01"
                             << "2028-03-02";
    }
    void colour_isRedBeforeTodayAndBlackFromToday()
    {
        QFETCH(QString, locale);
        QFETCH(QString, yesterday);
        QFETCH(QString, today);
        QFETCH(QString, tomorrow);
        DueDates::setLocale(QLocale(locale));
        Clock::setToday(QDate(2028, 3, 1));
        QCOMPARE(Clock::today(), QDate(2028, 3, 1));
        QCOMPARE(DueDates::colourFor(yesterday), Colour::Overdue);
        QCOMPARE(DueDates::colourFor(today), Colour::OnTime);
        QCOMPARE(DueDates::colourFor(tomorrow), Colour::OnTime);
        // The same texts a day later: today's date has become overdue.
        Clock::setToday(QDate(2028, 3, 2));
        QCOMPARE(DueDates::colourFor(today), Colour::Overdue);
        QCOMPARE(DueDates::colourFor(tomorrow), Colour::OnTime);
    }

    void clockWithoutASetDay_followsTheRealDate()
    {
        Clock::setToday(QDate(2000, 1, 1));
        Clock::setToday({});
        QCOMPARE(Clock::today(), QDate::currentDate());
    }

    void switchingLocales_changesTheFormatEachTime()
    {
        for (int i = 0; i < 2; ++i) {
            DueDates::setLocale(QLocale(QStringLiteral("en_US")));
            QCOMPARE(DueDates::parse(QStringLiteral("3/4/2026")), QDate(2026, 3, 4));
            DueDates::setLocale(QLocale(QStringLiteral("de_DE")));
            QCOMPARE(DueDates::parse(QStringLiteral("3.4.2026")), QDate(2026, 4, 3));
        }
        DueDates::setLocale(QLocale(QStringLiteral("en_GB")));
        QCOMPARE(DueDates::writeFormat(), QStringLiteral("dd/MM/yyyy"));
        QCOMPARE(DueDates::parse(QStringLiteral("3/4/2026")), QDate(2026, 4, 3));
    }
};

int main(int argc, char** argv)
{
    // Dates follow LC_TIME; messages and numbers may be in another language.
    qunsetenv("LC_ALL");
    qputenv("LANG", "en_US.UTF-8");
    qputenv("LC_TIME", "de_DE.UTF-8");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication app(argc, argv);
    TestDueDates test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_due_dates.moc"
