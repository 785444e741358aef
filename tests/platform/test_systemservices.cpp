#include "platform/Beeper.h"
#include "platform/Connectivity.h"

#include <QtTest>

// The system implementations on whatever machine the tests run: they answer without waiting on anything.
class TestSystemServices : public QObject
{
    Q_OBJECT

private slots:
    void connectivity_answers();
    void beep_withoutWidgetsApplication_isHarmless();
};

void TestSystemServices::connectivity_answers()
{
    NetworkInfoConnectivity connectivity;
    qInfo() << "connected:" << connectivity.isConnected();
}

void TestSystemServices::beep_withoutWidgetsApplication_isHarmless()
{
    ApplicationBeeper().beep();
}

QTEST_GUILESS_MAIN(TestSystemServices)
#include "test_systemservices.moc"
