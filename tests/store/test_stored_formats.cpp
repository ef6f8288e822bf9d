// The stored text formats and the numbers in them, without a store.
#include "category_tree_codec.h"
#include "failure.h"
#include "huge_pages.h"
#include "numbers.h"
#include "task_list_codec.h"
#include "test_main.h"

#include <QFile>
#include <cstdlib>

using namespace CategoryTreeCodec;

class TestStoredFormats : public QObject
{
    Q_OBJECT

private slots:
    void treeWorkedExample_encodesAndSplitsBack()
    {
        const QString stored = QStringLiteral(
            "Work;1_Root_1;^Home;1_Root_2;^Other;1_Root_3;^Reports;2_Sublist_4;1_Root_1^");
        const QList<Node> nodes = {{QStringLiteral("Work"), rootKey(1), {}},
                                   {QStringLiteral("Home"), rootKey(2), {}},
                                   {QStringLiteral("Other"), rootKey(3), {}},
                                   {QStringLiteral("Reports"), subKey(2, 4), rootKey(1)}};
        QCOMPARE(encode(nodes), stored);
        QCOMPARE(encode({}), QString());

        const QList<QStringList> entries = splitEntries(stored);
        QCOMPARE(entries.size(), 4);
        // A top-level entry has an empty third field, not a missing one.
        QCOMPARE(entries[0], (QStringList{"Work", "1_Root_1", ""}));
        QCOMPARE(entries[3], (QStringList{"Reports", "2_Sublist_4", "1_Root_1"}));
    }

    void treeEntriesWithFewerFields_keepWhatIsThere()
    {
        const QList<QStringList> entries =
            splitEntries(QStringLiteral("Work;1_Root_1^^Lonely^ ;x^"));
        QCOMPARE(entries.size(), 3);
        QCOMPARE(entries[0], (QStringList{"Work", "1_Root_1"}));
        QCOMPARE(entries[1], (QStringList{"Lonely"}));
        // Blanks are text, not empty pieces.
        QCOMPARE(entries[2], (QStringList{" ", "x"}));
        QVERIFY(splitEntries(QString()).isEmpty());
    }

    void categoryKeys_splitIntoLevelAndNumber()
    {
        QCOMPARE(rootKey(3), QStringLiteral("1_Root_3"));
        QCOMPARE(subKey(3, 9), QStringLiteral("3_Sublist_9"));
        QCOMPARE(depthOf(QStringLiteral("3_Sublist_9")), 3);
        QCOMPARE(numberOf(QStringLiteral("2_Sublist_12")), 12);
        QCOMPARE(numberOf(rootKey(32767)), 32767);
        QVERIFY_THROWS_EXCEPTION(Failure, numberOf(QStringLiteral("1_Root")));
        QVERIFY_THROWS_EXCEPTION(Failure, numberOf(QStringLiteral("1_Root_x")));
        QVERIFY_THROWS_EXCEPTION(Failure, numberOf(QStringLiteral("1_Root_40000")));
        QVERIFY_THROWS_EXCEPTION(Failure, depthOf(QStringLiteral("Root_1")));
    }

    void categoryNames_withSeparatorsAreRefused()
    {
        QVERIFY(unstorableNameReason(QStringLiteral("  Work and play ")).isEmpty());
        QVERIFY(!unstorableNameReason(QStringLiteral("A;B")).isEmpty());
        QVERIFY(!unstorableNameReason(QStringLiteral("A^B")).isEmpty());
    }

    void exportCategories_followTheStoredOrderAndTheDefault()
    {
        const QList<ExportCategory> defaults = categoriesForExport(kDefaultText);
        QCOMPARE(defaults.size(), 3);
        QCOMPARE(defaults[2].text, QStringLiteral("Other"));
        QCOMPARE(defaults[2].key, QStringLiteral("1_Root_3"));

        const QList<ExportCategory> stored = categoriesForExport(
            QStringLiteral("Home;1_Root_2;^Reports;2_Sublist_4;1_Root_2^Work;1_Root_1;^"));
        QCOMPARE(stored.size(), 3);
        QCOMPARE(stored[1].text, QStringLiteral("Reports"));
        QCOMPARE(stored[1].key, QStringLiteral("2_Sublist_4"));
        QCOMPARE(stored[2].key, QStringLiteral("1_Root_1"));
        QVERIFY(categoriesForExport(QString()).isEmpty());
        QVERIFY_THROWS_EXCEPTION(Failure, categoriesForExport(QStringLiteral("NoKey^")));
    }

    void taskListWorkedExample_encodesAndDecodesBack()
    {
        const QString stored = QStringLiteral(
            "Deliver PartsMy_Separatora12MediumMy_Separatora12GeneralMy_Separatora12My_Separatora12"
            "My_Separatora12My_Separatora08Call NessalyMy_Separatora12HighMy_Separatora12General"
            "My_Separatora12My_Separatora12My_Separatora12DoneMy_Separatora08");
        QString out;
        TaskListCodec::appendEntry(out, {"Deliver Parts", "Medium", "General", "", "", ""});
        TaskListCodec::appendEntry(out, {"Call Nessaly", "High", "General", "", "", "Done"});
        QCOMPARE(out, stored);

        const QList<QStringList> tasks = TaskListCodec::decode(stored);
        QCOMPARE(tasks.size(), 2);
        QCOMPARE(tasks[0], (QStringList{"Deliver Parts", "Medium", "General", "", "", ""}));
        QCOMPARE(tasks[1], (QStringList{"Call Nessaly", "High", "General", "", "", "Done"}));
        QVERIFY(TaskListCodec::decode(QString()).isEmpty());
        QVERIFY(TaskListCodec::decode(QStringLiteral("My_Separatora08My_Separatora08")).isEmpty());
        // A last entry without its closing separator, and an entry of one field, still count.
        QCOMPARE(TaskListCodec::decode(QStringLiteral("My_Separatora08AMy_Separatora12B")),
                 (QList<QStringList>{{"A", "B"}}));
        QCOMPARE(TaskListCodec::decode(QStringLiteral("AMy_Separatora08My_Separatora12")),
                 (QList<QStringList>{{"A"}, {"", ""}}));
        QCOMPARE(TaskListCodec::deletedKey(QStringLiteral("2_Sublist_4")),
                 QStringLiteral("2_Sublist_4Del"));
    }

    void taskFields_withLineBreaksSurvive_withSeparatorsSplit()
    {
        QString out;
        TaskListCodec::appendEntry(out, {"T", "Low", "Idea", "12/7/2026", "line 1\r\nline 2", ""});
        QCOMPARE(TaskListCodec::decode(out).value(0).value(4), QStringLiteral("line 1\r\nline 2"));

        // Nothing is escaped: a separator inside a field splits the task when read back.
        const QString field = QStringLiteral("aMy_Separatora12b");
        QVERIFY(TaskListCodec::containsSeparator(field));
        QVERIFY(TaskListCodec::containsSeparator(QStringLiteral("xMy_Separatora08")));
        QVERIFY(!TaskListCodec::containsSeparator(QStringLiteral("My_Separatora1")));
        out.clear();
        TaskListCodec::appendEntry(out, {field, "", "", "", "", ""});
        QCOMPARE(TaskListCodec::decode(out).value(0).size(), 7);
        out.clear();
        TaskListCodec::appendEntry(out, {"aMy_Separatora08b", "", "", "", "", ""});
        QCOMPARE(TaskListCodec::decode(out).size(), 2);
    }

    // The reader finds separators several characters at a time; every way a separator, a piece
    // of one or an underscore can fall against those steps must split as a plain search does.
    void taskListReader_splitsLikeAPlainSearch_wherePiecesFall()
    {
        const auto plainSplit = [](const QString& value) {
            QList<QStringList> tasks;
            for (const QString& entry : value.split(TaskListCodec::kTaskSeparator))
                if (!entry.isEmpty())
                    tasks.append(entry.split(TaskListCodec::kFieldSeparator));
            return tasks;
        };
        const QStringList pieces = {"My_Separatora12",
                                    "My_Separatora08",
                                    "My_Separatora",
                                    "My_Separatora1",
                                    "My_Separ",
                                    "_",
                                    "a_b",
                                    "M",
                                    "Medium",
                                    "",
                                    "x",
                                    "\u00e9\U0001F600"};
        quint32 seed = 12345;
        const auto next = [&seed](quint32 below) {
            seed = seed * 1103515245u + 12345u;
            return (seed >> 16) % below;
        };
        for (int round = 0; round < 3000; ++round) {
            QString value;
            for (quint32 n = next(14); n > 0; --n)
                value += pieces[int(next(quint32(pieces.size())))];
            const QList<QStringList> expected = plainSplit(value);
            QCOMPARE(TaskListCodec::decode(value), expected);
            const QList<TaskListCodec::Entry> entries = TaskListCodec::decodeEntries(value);
            QCOMPARE(entries.size(), expected.size());
            for (qsizetype i = 0; i < entries.size(); ++i) {
                QCOMPARE(entries[i].fieldCount, expected[i].size());
                QCOMPARE(entries[i].stored.toString(),
                         expected[i].join(TaskListCodec::kFieldSeparator));
                for (qsizetype f = 0; f < std::min<qsizetype>(6, expected[i].size()); ++f)
                    QCOMPARE(entries[i].fields[size_t(f)], expected[i][f]);
            }
            // Split from the stored UTF-8 bytes, the same fields come out.
            const auto fromBytes = TaskListCodec::decodeShownEntriesFromUtf8(value.toUtf8());
            QVERIFY(fromBytes);
            QCOMPARE(fromBytes->size(), entries.size());
            for (qsizetype i = 0; i < entries.size(); ++i) {
                QCOMPARE((*fromBytes)[i].fieldCount, entries[i].fieldCount);
                QCOMPARE((*fromBytes)[i].fields, entries[i].fields);
            }
        }
    }

    // Fields split from the bytes share one block of text; each must still behave as a text of
    // its own when changed, alone or beside the others, in a small block and a huge-page one.
    void taskListFromStoredBytes_fieldsChangeAsTextsOfTheirOwn_data()
    {
        QTest::addColumn<int>("tasks");
        QTest::newRow("a few") << 3;
        QTest::newRow("megabytes") << 40000 / 2;
    }
    void taskListFromStoredBytes_fieldsChangeAsTextsOfTheirOwn()
    {
        QFETCH(int, tasks);
        QString value;
        for (int i = 0; i < tasks; ++i)
            TaskListCodec::appendEntry(value, {QString("task \u00e9 %1").arg(i), "Medium", "",
                                               QString(60, QChar(u'n')), "Work", "Done"});
        auto entries = TaskListCodec::decodeShownEntriesFromUtf8(value.toUtf8());
        QVERIFY(entries);
        QCOMPARE(entries->size(), tasks);
        for (const QString& field : entries->first().fields) // utf16() promises the zero
            QCOMPARE(field.utf16()[field.size()], u'\0');
        QString first = entries->first().fields[0];
        QString last = entries->last().fields[0];
        first += "!";
        QCOMPARE(entries->first().fields[0], QStringLiteral("task \u00e9 0"));
        QCOMPARE(entries->value(1, entries->first()).fields[3], QString(60, QChar(u'n')));
        entries.reset();
        // The last text left holds the block alone: growing it at either end keeps its text.
        last.prepend("<");
        last.append(QString(70000, QChar(u'x')));
        QCOMPARE(last, "<task \u00e9 " + QString::number(tasks - 1) + QString(70000, QChar(u'x')));
        QCOMPARE(first, QStringLiteral("task \u00e9 0!"));
    }

    // Big buffers ask for huge pages, and only a mapping of their own is kept from forked
    // children: pages of a shared heap would stay missing there after they were reused.
    void bigBuffers_adviseHugePagesAndKeepOnlyTheirOwnMappingFromChildren()
    {
        struct Region
        {
            quintptr start = 0;
            QByteArrayList flags;
        };
        const auto regionOf = [](const void* at) {
            QFile maps(QStringLiteral("/proc/self/smaps"));
            Region region;
            if (!maps.open(QIODevice::ReadOnly))
                return region;
            bool inside = false;
            for (const QByteArray& line : maps.readAll().split('\n')) {
                const QByteArrayList range = line.split(' ').value(0).split('-');
                bool from = false, to = false;
                const quintptr start = range.value(0).toULongLong(&from, 16);
                const quintptr end = range.value(1).toULongLong(&to, 16);
                if (range.size() == 2 && from && to) {
                    inside = start <= quintptr(at) && quintptr(at) < end;
                    if (inside)
                        region.start = start;
                } else if (inside && line.startsWith("VmFlags:")) {
                    region.flags = line.mid(8).simplified().split(' ');
                    return region;
                }
            }
            return region;
        };
        struct Row
        {
            char bytes[168];
        };
        QList<Row> rows = HugePages::emptyListWithRoomFor<Row>(32767);
        QVERIFY(rows.capacity() >= 32767);
        rows.resize(32767);
        QVERIFY2(regionOf(rows.constData()).flags.contains("hg"),
                 regionOf(rows.constData()).flags.join(' '));

#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the sanitizer's allocator maps no heap of glibc's kind");
#endif
        // Once a block of its own is freed, the next smaller ones come from the heap.
        auto* const freed = static_cast<volatile char*>(std::malloc(30 << 20));
        freed[0] = 1; // a pair never used would be left out by the compiler
        std::free(const_cast<char*>(freed));
        for (const int megabytes : {6, 40}) {
            void* block = std::malloc(size_t(megabytes) << 20);
            char* const inside = static_cast<char*>(block) + (4 << 20);
            HugePages::adviseToEnd(inside, block);
            // The advice splits the mapping: its first page stays as it was.
            const bool ownMapping = regionOf(block).start + 16 == quintptr(block);
            QCOMPARE(ownMapping, megabytes == 40);
            QCOMPARE(regionOf(inside).flags.contains("dc"), ownMapping);
            std::free(block);
        }
    }

    // Bytes that would not decode field by field as they do whole are left to the text route.
    void taskListFromStoredBytes_onlyWhenEveryFieldDecodesAsTheWhole_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("splitFromBytes");
        const QByteArray field = "a" + TaskListCodec::kFieldSeparator.toLatin1();
        QTest::newRow("ASCII") << field + "b" << true;
        QTest::newRow("two, three and four bytes")
            << field + "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80" << true;
        QTest::newRow("cut sequence before a separator") << "\xc3" + field << false;
        QTest::newRow("overlong") << field + "\xc0\x80" << false;
        QTest::newRow("surrogate") << field + "\xed\xa0\x80" << false;
        QTest::newRow("past U+10FFFF") << field + "\xf4\x90\x80\x80" << false;
        QTest::newRow("byte order mark") << field + "\xef\xbb\xbf" + "b" << false;
        QByteArray full;
        for (int i = 0; i <= TaskListCodec::kMaxTasks; ++i)
            full += "t" + TaskListCodec::kTaskSeparator.toLatin1();
        QTest::newRow("more tasks than a list shows") << full << false;
    }
    void taskListFromStoredBytes_onlyWhenEveryFieldDecodesAsTheWhole()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, splitFromBytes);
        const auto fromBytes = TaskListCodec::decodeShownEntriesFromUtf8(bytes);
        QCOMPARE(bool(fromBytes), splitFromBytes);
        if (fromBytes) {
            const QList<QStringList> whole = TaskListCodec::decode(QString::fromUtf8(bytes));
            QCOMPARE(fromBytes->size(), whole.size());
            for (qsizetype f = 0; f < whole.value(0).size(); ++f)
                QCOMPARE((*fromBytes)[0].fields[size_t(f)], whole[0][f]);
        }
    }

    void columnWidths_startUpExampleAndShortestForm()
    {
        QCOMPARE(ColumnWidthsCodec::encode({2200, 1200, 1200, 1200, 1, 1}),
                 QStringLiteral("2200My_Separatora121200My_Separatora121200My_Separatora121200My_"
                                "Separatora121My_Separatora121My_Separatora12"));
        QCOMPARE(ColumnWidthsCodec::encode({}), QString());
        QCOMPARE(ColumnWidthsCodec::encode({1234.5, 0}),
                 QStringLiteral("1234.5My_Separatora120My_Separatora12"));
        // Whole numbers of any size keep plain digits: no exponent.
        QCOMPARE(ColumnWidthsCodec::encode({100000, 1000000}),
                 QStringLiteral("100000My_Separatora121000000My_Separatora12"));
        QCOMPARE(ColumnWidthsCodec::split(QStringLiteral("My_Separatora121500My_Separatora12")),
                 (QStringList{"", "1500", ""}));
        QCOMPARE(ColumnWidthsCodec::split(QString()), (QStringList{""}));
    }

    void taskTypes_skipEmptyPieces()
    {
        QCOMPARE(TaskTypesCodec::decode(TaskTypesCodec::kDefaultText),
                 (QStringList{"General", "Idea", "Personal", "Work"}));
        QCOMPARE(TaskTypesCodec::decode(QStringLiteral(";;A;;B;")), (QStringList{"A", "B"}));
        QCOMPARE(TaskTypesCodec::encode({"A", "B c"}), QStringLiteral("A;B c;"));
        QCOMPARE(TaskTypesCodec::encode({}), QString());
    }

    void storedNumbers_readAsSixteenBitWholeNumbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected");
        QTest::newRow("plain") << "2200" << 2200;
        QTest::newRow("blanks") << " 12 " << 12;
        QTest::newRow("negative") << "-32768" << -32768;
        QTest::newRow("largest") << "32767" << 32767;
        QTest::newRow("half to even down") << "2.5" << 2;
        QTest::newRow("half to even up") << "3.5" << 4;
        QTest::newRow("fraction") << "1234.4" << 1234;
        QTest::newRow("exponent") << "1e3" << 1000;
    }
    void storedNumbers_readAsSixteenBitWholeNumbers()
    {
        QFETCH(QString, text);
        QFETCH(int, expected);
        QCOMPARE(Numbers::toInt16(text, QStringLiteral("a width")), expected);
    }

    void storedNumbers_thatAreNotNumbersOrTooBig_fail_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("start");
        QTest::newRow("empty") << ""
                               << "Type mismatch";
        QTest::newRow("word") << "abc"
                              << "Type mismatch";
        QTest::newRow("trailing") << "12px"
                                  << "Type mismatch";
        QTest::newRow("comma decimal") << "1,5"
                                       << "Type mismatch";
        QTest::newRow("infinite") << "inf"
                                  << "Type mismatch";
        QTest::newRow("too big") << "32768"
                                 << "Overflow";
        QTest::newRow("rounds past") << "32767.5"
                                     << "Overflow";
        QTest::newRow("too small") << "-32769"
                                   << "Overflow";
    }
    void storedNumbers_thatAreNotNumbersOrTooBig_fail()
    {
        QFETCH(QString, text);
        QFETCH(QString, start);
        try {
            Numbers::toInt16(text, QStringLiteral("a width"));
            QFAIL("no failure");
        } catch (const Failure& failure) {
            QVERIFY2(failure.description().startsWith(start), qPrintable(failure.description()));
            QVERIFY2(failure.description().contains(QStringLiteral("a width")),
                     qPrintable(failure.description()));
        }
    }

    void largerNumbers_fitThirtyTwoBits()
    {
        QCOMPARE(Numbers::toInt32(QStringLiteral("40000"), {}), 40000);
        QCOMPARE(Numbers::toInt32(QStringLiteral("2147483647"), {}), 2147483647);
        QVERIFY_THROWS_EXCEPTION(Failure, Numbers::toInt32(QStringLiteral("2147483648"), {}));
        QVERIFY_THROWS_EXCEPTION(Failure, Numbers::toInt32(QStringLiteral("1e10"), {}));
    }

    void shortestForm_hasNoDecimalPointForWholeNumbersAndNoExponent()
    {
        QCOMPARE(Numbers::shortest(2200), QStringLiteral("2200"));
        QCOMPARE(Numbers::shortest(1), QStringLiteral("1"));
        QCOMPARE(Numbers::shortest(0), QStringLiteral("0"));
        QCOMPARE(Numbers::shortest(1234.5), QStringLiteral("1234.5"));
        QCOMPARE(Numbers::shortest(0.1), QStringLiteral("0.1"));
        QCOMPARE(Numbers::shortest(-15), QStringLiteral("-15"));
        QCOMPARE(Numbers::shortest(100000), QStringLiteral("100000"));
        QCOMPARE(Numbers::shortest(12345678), QStringLiteral("12345678"));
    }
};

KESTRUNE_TEST_MAIN(TestStoredFormats)
#include "test_stored_formats.moc"
