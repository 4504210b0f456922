#include "TestPresenter.h"
#include <QApplication>
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
    QApplication app(argc, argv);
    LoadQtTranslations(); // as the host does
    SetMessagePresenter(&testPresenter());
    ::testing::UnitTest::GetInstance()->listeners().Append(new PresenterReset);
    const int rc = RUN_ALL_TESTS();
    SetMessagePresenter(nullptr);
    return rc;
}
