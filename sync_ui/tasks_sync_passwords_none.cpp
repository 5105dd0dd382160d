// A build without a keyring library: every read says that no keyring
// answers, so the password is asked for once per run and kept in memory.

#include "sync_ui/tasks_sync_passwords.h"

#include <QObject>
#include <QTimer>

namespace {

const QString kNoKeyring = QStringLiteral("this build of Ulmora has no keyring support");

class TtasksNoKeyring : public ItasksPasswordStore
{
public:
    void Read(const QString&, QObject* aContext, TReadDone aDone) override
    {
        QTimer::singleShot(0, aContext, [done = std::move(aDone)] {
            TSyncPasswordRead read;
            read.error = kNoKeyring;
            done(read);
        });
    }
    void Write(const QString&, const QString&, QObject* aContext, TWriteDone aDone) override
    {
        QTimer::singleShot(0, aContext, [done = std::move(aDone)] { done(false, kNoKeyring); });
    }
};

} // namespace

std::shared_ptr<ItasksPasswordStore> CreateKeyringPasswordStore()
{
    return std::make_shared<TtasksNoKeyring>();
}
