#include "app/tasks_notifier_dbus.h"

#include "util/kvd_guard.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusServiceWatcher>
#include <QImage>
#include <QPixmap>
#include <QVariantMap>
#include <optional>

namespace {

// The program's title, which the desktop shows as the sender.
const QString kAppName = QStringLiteral("Ulmora");
// The application id under which the package installs the icon and the
// desktop entry: the desktop finds both by it.
const QString kAppId = QStringLiteral("io.github.ulmora.Ulmora");
// The side of the icon sent with a notification when the icon theme does not
// hold the program's icon (a program run from its build folder).
constexpr int kImageSide = 48;

const QString kActionDone = QStringLiteral("done");
const QString kActionSnooze = QStringLiteral("snooze");
const QString kActionDefault = QStringLiteral("default");

// The "image-data" hint: raw RGBA rows, as the notification protocol
// describes its (iiibiiay) structure.
struct TImageData
{
    int Width = 0;
    int Height = 0;
    int RowStride = 0;
    bool HasAlpha = true;
    int BitsPerSample = 8;
    int Channels = 4;
    QByteArray Data;
};

QDBusArgument& operator<<(QDBusArgument& aArgument, const TImageData& aImage)
{
    aArgument.beginStructure();
    aArgument << aImage.Width << aImage.Height << aImage.RowStride << aImage.HasAlpha
              << aImage.BitsPerSample << aImage.Channels << aImage.Data;
    aArgument.endStructure();
    return aArgument;
}

const QDBusArgument& operator>>(const QDBusArgument& aArgument, TImageData& aImage)
{
    aArgument.beginStructure();
    aArgument >> aImage.Width >> aImage.Height >> aImage.RowStride >> aImage.HasAlpha >>
        aImage.BitsPerSample >> aImage.Channels >> aImage.Data;
    aArgument.endStructure();
    return aArgument;
}

} // namespace

Q_DECLARE_METATYPE(TImageData)

namespace {

// The icon's pixels for the "image-data" hint; empty for no icon.
std::optional<TImageData> ImageOf(const QIcon& aIcon)
{
    if (aIcon.isNull())
        return std::nullopt;
    const QImage image =
        aIcon.pixmap(kImageSide, kImageSide).toImage().convertToFormat(QImage::Format_RGBA8888);
    if (image.isNull())
        return std::nullopt;
    TImageData data;
    data.Width = image.width();
    data.Height = image.height();
    data.RowStride = static_cast<int>(image.bytesPerLine());
    data.Data = QByteArray(reinterpret_cast<const char*>(image.constBits()),
                           static_cast<qsizetype>(image.sizeInBytes()));
    return data;
}

// The body as the service shows it: line feeds alone end its lines, and where
// the service reads markup, a "<" or "&" of the user's note is text.
QString ServiceBody(const QString& aBody, bool aMarkup)
{
    QString body = aBody;
    body.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return aMarkup ? body.toHtmlEscaped() : body;
}

} // namespace

const QString TtasksDBusNotifier::kService = QStringLiteral("org.freedesktop.Notifications");
const QString TtasksDBusNotifier::kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString TtasksDBusNotifier::kInterface = QStringLiteral("org.freedesktop.Notifications");

TtasksDBusNotifier::TtasksDBusNotifier(std::shared_ptr<ItasksNotifier> aFallback,
                                       const QDBusConnection& aBus)
    : FFallback(std::move(aFallback)), FBus(aBus)
{
    qDBusRegisterMetaType<TImageData>();
    // The service's signals reach every program on the bus; only the ids this
    // notifier keeps are its own. The bus connects slots by name, so these two
    // slots guard their own bodies.
    FBus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                 SLOT(ActionInvoked(uint, QString)));
    FBus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                 SLOT(NotificationClosed(uint, uint)));
    // A service that starts or ends later (a desktop's daemon restarting)
    // takes over from the balloon, or hands back to it.
    FWatcher = new QDBusServiceWatcher(kService, FBus,
                                       QDBusServiceWatcher::WatchForRegistration |
                                           QDBusServiceWatcher::WatchForUnregistration,
                                       this);
    ConnectGuarded(FWatcher, &QDBusServiceWatcher::serviceRegistered, this,
                   &TtasksDBusNotifier::ServiceRegistered);
    ConnectGuarded(FWatcher, &QDBusServiceWatcher::serviceUnregistered, this,
                   &TtasksDBusNotifier::ServiceUnregistered);
    Probe();
}

TtasksDBusNotifier::~TtasksDBusNotifier() = default;

bool TtasksDBusNotifier::Probe()
{
    const QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                             QStringLiteral("GetCapabilities"));
    const QDBusMessage reply = FBus.call(call, QDBus::Block, kCallMSecs);
    FAnswers = reply.type() == QDBusMessage::ReplyMessage;
    FCapabilities = FAnswers ? reply.arguments().value(0).toStringList() : QStringList();
    // Without a service its notifications are gone.
    if (!FAnswers)
        ForgetAll();
    return FAnswers;
}

void TtasksDBusNotifier::PlayInformationSound()
{
    FFallback->PlayInformationSound();
}

void TtasksDBusNotifier::ShowBalloon(const QString& aTitle, const QString& aText, int aMSecs)
{
    FFallback->ShowBalloon(aTitle, aText, aMSecs);
}

uint TtasksDBusNotifier::Send(const TtasksNotification& aNotification)
{
    QStringList actions = {kActionDefault, aNotification.TaskId.isEmpty()
                                               ? QStringLiteral("Show List")
                                               : QStringLiteral("Open")};
    if (!aNotification.TaskId.isEmpty())
        actions << kActionDone << QStringLiteral("Done") << kActionSnooze
                << QStringLiteral("Snooze");
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), kAppId);
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(1)));
    // The program plays the desktop's information sound itself.
    hints.insert(QStringLiteral("suppress-sound"), true);
    if (!QIcon::hasThemeIcon(kAppId)) {
        if (const std::optional<TImageData> image = ImageOf(aNotification.Icon))
            hints.insert(QStringLiteral("image-data"), QVariant::fromValue(*image));
    }

    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    // A task has one notification at a time: a new one replaces the one shown.
    call << kAppName << NotificationOf(aNotification.TaskId) << kAppId << aNotification.Title
         << ServiceBody(aNotification.Body, FCapabilities.contains(QLatin1String("body-markup")))
         << actions
         << hints
         // Shown until the user acts on it or the task's notification is
         // taken back: a reminder that vanished could no longer be acted on.
         << 0;
    const QDBusMessage reply = FBus.call(call, QDBus::Block, kCallMSecs);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return 0;
    return reply.arguments().value(0).toUInt();
}

void TtasksDBusNotifier::ShowNotification(const TtasksNotification& aNotification)
{
    uint id = FAnswers ? Send(aNotification) : 0;
    // A failed call asks again whether a service answers: one that was
    // restarted takes the notification, otherwise the balloon does.
    if (id == 0 && FAnswers && Probe())
        id = Send(aNotification);
    if (id == 0) {
        FFallback->ShowNotification(aNotification);
        return;
    }
    const uint former = NotificationOf(aNotification.TaskId);
    if (former != 0 && former != id)
        Forget(former);
    FIdOfTask.insert(aNotification.TaskId, id);
    FTaskOfId.insert(id, aNotification.TaskId);
}

void TtasksDBusNotifier::Withdraw(const QString& aTaskId)
{
    const uint id = NotificationOf(aTaskId);
    if (id == 0)
        return;
    Forget(id);
    if (!FAnswers)
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                       QStringLiteral("CloseNotification"));
    call << id;
    // A notification already closed by the user is no failure worth a word.
    FBus.call(call, QDBus::Block, kCallMSecs);
}

void TtasksDBusNotifier::Forget(uint aId)
{
    const auto task = FTaskOfId.constFind(aId);
    if (task == FTaskOfId.cend())
        return;
    if (FIdOfTask.value(*task) == aId)
        FIdOfTask.remove(*task);
    FTaskOfId.erase(task);
}

void TtasksDBusNotifier::ActionInvoked(uint aId, const QString& aActionKey)
{
    RunGuarded([&] { HandleAction(aId, aActionKey); });
}

void TtasksDBusNotifier::HandleAction(uint aId, const QString& aActionKey)
{
    const auto task = FTaskOfId.constFind(aId);
    if (task == FTaskOfId.cend())
        return;
    const QString taskId = *task;
    if (aActionKey == kActionDone)
        ReportAction(TtasksNotifierAction::Done, taskId);
    else if (aActionKey == kActionSnooze)
        ReportAction(TtasksNotifierAction::Snooze, taskId);
    else if (aActionKey == kActionDefault)
        ReportAction(TtasksNotifierAction::Open, taskId);
}

void TtasksDBusNotifier::NotificationClosed(uint aId, uint)
{
    RunGuarded([&] { Forget(aId); });
}

void TtasksDBusNotifier::ServiceRegistered()
{
    Probe();
}

void TtasksDBusNotifier::ServiceUnregistered()
{
    // The notifications went with the service.
    FAnswers = false;
    ForgetAll();
}

void TtasksDBusNotifier::ForgetAll()
{
    FIdOfTask.clear();
    FTaskOfId.clear();
}
