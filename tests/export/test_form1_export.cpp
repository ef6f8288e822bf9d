#include "test_main.h"
class T : public QObject
{
    Q_OBJECT
};
KESTRUNE_TEST_MAIN(T)
#include "test_form1_export.moc"
