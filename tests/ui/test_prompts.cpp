// The prompts' own texts, apart from any window.
#include "prompts.h"
#include "test_main.h"

class TestPrompts : public QObject
{
    Q_OBJECT

private slots:
    void applicationTitle_isTheProductNameWithoutItsLastWords()
    {
        QCOMPARE(applicationTitle(), QStringLiteral("Tolvendra"));
        QCOMPARE(applicationTitle(QStringLiteral("Alpha Beta Gamma Delta")),
                 QStringLiteral("Alpha Beta Gamma"));
        QCOMPARE(applicationTitle(QStringLiteral("Aaaaaaaaaa Bbbbbbbbbb Cccccccccc Dddddddddd "
                                                 "Eeeeeeeeee")),
                 QStringLiteral("Aaaaaaaaaa Bbbbbbbbbb Cccccccccc"));
    }
};

KESTRUNE_TEST_MAIN(TestPrompts)
#include "test_prompts.moc"
