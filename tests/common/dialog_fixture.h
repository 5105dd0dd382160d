#pragma once

// The set-up that the dialog tests share: message boxes that record instead of
// blocking, the application's name in the captions, and for each test case a
// clean process state (TTestEnv) with a database file in its folder. The test
// class takes it as a second base beside QObject and calls it from its
// initTestCase, init and cleanup.

#include "util/kvd_dialogs.h"

#include "test_env.h"

#include <QApplication>
#include <memory>

class TDialogFixture
{
protected:
    // For initTestCase.
    static void SetUpDialogs()
    {
        TkvdMessageBox::SetTestMode(true);
        QApplication::setApplicationDisplayName("Ulmora");
    }

    // For init: a fresh environment whose database file is the store's, and no
    // message box recorded yet; gives the database file.
    QString SetUpTestEnv()
    {
        FEnv = std::make_unique<TTestEnv>();
        const QString database = FEnv->UseDatabase();
        TkvdMessageBox::ClearShown();
        return database;
    }

    // For cleanup: the environment goes, and with it the store and the settings.
    void TearDownTestEnv() { FEnv.reset(); }

    std::unique_ptr<TTestEnv> FEnv;
};
