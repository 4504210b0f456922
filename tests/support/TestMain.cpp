#include "TestPresenter.h"
#include <QApplication>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include "ErrorHandler.h"
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {
// Each test starts with the recording presenter installed and nothing recorded,
// even when tests of one program run in a single process.
class PresenterReset : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo &) override
    {
        testPresenter().clear();
        SetMessagePresenter(&testPresenter());
        // No layout or export folder carries over from another test.
        QSettings().clear();
    }
};
} // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleMock(&argc, argv);
    // Listing the tests (CTest's discovery at build time) needs no GUI at all.
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The windows' layouts go to a folder of this run, never the operator's
    // settings; a qelclient a test starts inherits it.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QCoreApplication::setOrganizationName(QStringLiteral("QEL"));
    QCoreApplication::setApplicationName(QStringLiteral("qelclient"));
    QApplication app(argc, argv);
    LoadQtTranslations(); // as the host does
    SetMessagePresenter(&testPresenter());
    ::testing::UnitTest::GetInstance()->listeners().Append(new PresenterReset);
    const int rc = RUN_ALL_TESTS();
    SetMessagePresenter(nullptr);
    return rc;
}
