// The password in the desktop's keyring through QtKeychain. Its jobs run
// asynchronously over the session bus; each reports once through finished
// and deletes itself afterwards.

#include "sync_ui/tasks_sync_passwords.h"

#include "util/kvd_guard.h"

#include <QObject>
#include <qt6keychain/keychain.h>

namespace {

// The keyring's service name under which the passwords are filed.
const QString kService = QStringLiteral("Ulmora");

class TtasksKeychain : public ItasksPasswordStore
{
public:
    void Read(const QString& aKey, QObject* aContext, TReadDone aDone) override
    {
        auto* job = new QKeychain::ReadPasswordJob(kService);
        job->setAutoDelete(true);
        // Never a plain file in place of the keyring: the password would lie
        // unprotected on the disk.
        job->setInsecureFallback(false);
        job->setKey(aKey);
        ConnectGuarded(job, &QKeychain::Job::finished, aContext,
                       [done = std::move(aDone)](QKeychain::Job* aJob) {
                           auto* read = static_cast<QKeychain::ReadPasswordJob*>(aJob);
                           TSyncPasswordRead result;
                           switch (read->error()) {
                           case QKeychain::NoError:
                               result.status = TSyncPasswordRead::TStatus::Found;
                               result.password = read->textData();
                               break;
                           case QKeychain::EntryNotFound:
                               result.status = TSyncPasswordRead::TStatus::NotFound;
                               break;
                           default:
                               result.status = TSyncPasswordRead::TStatus::NoKeyring;
                               result.error = read->errorString();
                               break;
                           }
                           done(result);
                       });
        job->start();
    }

    void Write(const QString& aKey, const QString& aPassword, QObject* aContext,
               TWriteDone aDone) override
    {
        auto* job = new QKeychain::WritePasswordJob(kService);
        job->setAutoDelete(true);
        job->setInsecureFallback(false);
        job->setKey(aKey);
        job->setTextData(aPassword);
        ConnectGuarded(job, &QKeychain::Job::finished, aContext,
                       [done = std::move(aDone)](QKeychain::Job* aJob) {
                           const bool stored = aJob->error() == QKeychain::NoError;
                           done(stored, stored ? QString() : aJob->errorString());
                       });
        job->start();
    }
};

} // namespace

std::shared_ptr<ItasksPasswordStore> CreateKeyringPasswordStore()
{
    return std::make_shared<TtasksKeychain>();
}
