// A list as the saving command stores it: the same bytes and UIDs as encoding the whole list to
// UTF-16 and converting that, whatever the fields hold.
#include "stored_list_encoder.h"
#include "task_uids.h"
#include "test_main.h"

class TestStoredListEncoder : public QObject
{
    Q_OBJECT

private slots:
    void matchesTheWholeTextConverted_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("beyond");
        QTest::newRow("ascii") << QStringLiteral("Deliver parts to the north depot") << QString();
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("accents and CJK")
            << QStringLiteral("Caf\u00e9 \u00fcber \u4efb\u52a1 long enough for eight")
            << QString();
        QTest::newRow("surrogate pair") << QStringLiteral("Plan \U0001F4C5 today") << QString();
        QTest::newRow("lone high surrogate at the end")
            << QStringView(u"abcdefgh\xd83d").toString() << QStringLiteral("tail");
        QTest::newRow("lone low surrogate inside")
            << QStringView(u"ab\xdc05 cdefghijk").toString() << QString();
        QTest::newRow("kept beyond the limit")
            << QStringLiteral("x") << QStringLiteral("moreMy_Separatora12\u00e4My_Separatora08");
    }

    void matchesTheWholeTextConverted()
    {
        QFETCH(QString, text);
        QFETCH(QString, beyond);
        QList<TaskRow> rows;
        for (int i = 0; i < 3; ++i) {
            TaskRow row;
            row.fields = {
                text,      QStringLiteral("High"), text.left(i),
                QString(), text.repeated(i),       i == 1 ? QStringLiteral("Done") : QString()};
            row.uid = TaskUids::create();
            rows.append(row);
        }
        QString whole;
        QList<TaskUids::Stored> uids;
        for (const TaskRow& row : rows) {
            TaskListCodec::appendEntry(whole, row.fields);
            uids.append({row.uid, TaskUids::digest(row.fields)});
        }
        whole += beyond;

        StoredListEncoder encoder;
        // Twice: the second time into the buffers the first one left.
        for (int round = 0; round < 2; ++round) {
            encoder.encode(rows, beyond);
            QCOMPARE(encoder.utf8(), whole.toUtf8());
            QByteArray records = TaskUids::encode(uids);
            TaskUids::appendListDigest(records, TaskUids::listDigest(whole.toUtf8()));
            QCOMPARE(encoder.uids(), records);
            QCOMPARE(TaskUids::ofUnchangedList(encoder.uids(), TaskUids::listDigest(encoder.utf8()),
                                               rows.size())
                         .value_or(QList<QUuid>()),
                     (QList<QUuid>{rows[0].uid, rows[1].uid, rows[2].uid}));
        }
        // A copy taken before the next encoding keeps what it was given.
        const QByteArray kept = encoder.utf8();
        encoder.encode(rows.mid(1), {});
        QCOMPARE(kept, whole.toUtf8());
    }

    // Digests carried over from the encoding before must be those of the rows as they are now.
    void digestsFollowTheRowsAcrossEncodings_data()
    {
        QTest::addColumn<int>("change");
        const char* names[] = {"unchanged",
                               "one edited",
                               "moved up",
                               "first removed",
                               "one added inside",
                               "reversed",
                               "lone surrogate made a question mark",
                               "question mark made a lone surrogate"};
        for (int i = 0; i < int(std::size(names)); ++i)
            QTest::newRow(names[i]) << i;
    }

    void digestsFollowTheRowsAcrossEncodings()
    {
        QFETCH(int, change);
        QList<TaskRow> rows;
        for (int i = 0; i < 6; ++i) {
            TaskRow row;
            row.fields = {QStringLiteral("Task %1").arg(i),
                          QStringLiteral("High"),
                          QString(),
                          QString(),
                          i == 2 ? QStringView(u"ab\xd83d").toString() : QString(),
                          i == 3 ? QStringLiteral("ab?") : QString()};
            row.uid = TaskUids::create();
            rows.append(row);
        }
        StoredListEncoder encoder;
        encoder.encode(rows, {});
        switch (change) {
        case 1:
            rows[4].fields[0] += QStringLiteral(" and more");
            break;
        case 2:
            rows.swapItemsAt(3, 4);
            break;
        case 3:
            rows.removeFirst();
            break;
        case 4:
            rows.insert(3, TaskRow{{QStringLiteral("New")}, {}, TaskUids::create()});
            break;
        case 5:
            std::reverse(rows.begin(), rows.end());
            break;
        case 6:
            rows[2].fields[4] = QStringLiteral("ab?");
            break;
        case 7:
            rows[3].fields[5] = QStringView(u"ab\xd83d").toString();
            break;
        }
        encoder.encode(rows, {});
        QList<TaskUids::Stored> uids;
        for (const TaskRow& row : std::as_const(rows))
            uids.append({row.uid, TaskUids::digest(row.fields)});
        QCOMPARE(encoder.uids().first(rows.size() * TaskUids::kRecordBytes),
                 TaskUids::encode(uids));
    }
};

KESTRUNE_TEST_MAIN(TestStoredListEncoder)
#include "test_stored_list_encoder.moc"
