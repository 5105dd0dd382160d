#pragma once

// A small CalDAV client for one calendar collection, used from one thread:
// it owns its QNetworkAccessManager and waits for each request in a local
// event loop, so the thread that calls it must be free to block (the sync's
// worker thread, never the GUI thread).
//
// Every failure raises ECalDavError with the cause in words ("the server
// refused the user name or password"); only the answers a sync acts on (412,
// 404 for an item, a refused sync token) come back as values. A server gets
// no more than a time limit per request and a cap on the size of its reply,
// and a redirect is reported, never followed.

#include "util/kvd_errors.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <memory>
#include <vector>

class QNetworkAccessManager;

KVD_DECLARE_ERROR(ECalDavError, EkvdError)

struct TCalDavSettings
{
    // The collection, e.g. https://host/remote.php/dav/calendars/USER/CALENDAR/
    QUrl url;
    QString user;
    QString password;
    // The whole of one request, from sending it to the last byte of its reply.
    int timeoutMs = 60000;
    qint64 maxReplyBytes = 64ll * 1024 * 1024;
};

// What PROPFIND says of the collection.
struct TCalDavCollection
{
    QString displayName;
    // Empty when the server offers no sync-collection report.
    QString syncToken;
    QString ctag;
};

// One member of the collection. The href is the path on the server,
// percent-decoded.
struct TCalDavItem
{
    QString href;
    QString etag;
    QByteArray data;
};

// The members changed and removed since a sync token.
struct TCalDavChanges
{
    std::vector<TCalDavItem> changed;
    QStringList removed;
    QString token;
};

// The outcome of a PUT or DELETE.
struct TCalDavWrite
{
    int status = 0;
    // The new entity tag when the server sent one.
    QString etag;
    // The server's answer in words ("412 Precondition Failed").
    QString answer;

    bool Ok() const { return status >= 200 && status < 300; }
    bool PreconditionFailed() const { return status == 412; }
    bool NotFound() const { return status == 404 || status == 410; }
};

class TCalDavClient
{
public:
    explicit TCalDavClient(const TCalDavSettings& aSettings);
    ~TCalDavClient();
    TCalDavClient(const TCalDavClient&) = delete;
    TCalDavClient& operator=(const TCalDavClient&) = delete;

    const QUrl& Url() const { return FSettings.url; }

    // PROPFIND depth 0: raises unless the URL names a calendar collection
    // that can hold to-dos.
    TCalDavCollection Probe();
    // REPORT sync-collection (RFC 6578) from aToken, empty for all members.
    // False when the server refuses the token or the report (the caller then
    // lists the whole collection).
    bool SyncCollection(const QString& aToken, TCalDavChanges& aChanges);
    // Every VTODO member with its entity tag (calendar-query), no data.
    std::vector<TCalDavItem> ListTodos();
    // The data and entity tags of aHrefs (calendar-multiget); members the
    // server no longer has are left out.
    std::vector<TCalDavItem> Multiget(const QStringList& aHrefs);
    // PUT: with aEtag empty only when nothing is there yet (If-None-Match: *),
    // otherwise only over that version (If-Match). The server's status comes
    // back, so that one refused item does not stop the others; a refused
    // password and a failed connection raise.
    TCalDavWrite Put(const QString& aHref, const QByteArray& aData, const QString& aEtag);
    // DELETE only that version (If-Match), or any with aEtag empty; its
    // status comes back as PUT's does.
    TCalDavWrite Delete(const QString& aHref, const QString& aEtag);

    // The member href for a file name inside the collection.
    QString HrefFor(const QString& aFileName) const;

    struct TReply
    {
        int status = 0;
        QByteArray body;
        QString etag;
        QString reason;
    };

private:
    TReply Send(const QByteArray& aVerb, const QUrl& aUrl, const QByteArray& aBody,
                const QList<std::pair<QByteArray, QByteArray>>& aHeaders);
    QUrl UrlOf(const QString& aHref) const;
    // Raises the words for a status that no caller handles.
    [[noreturn]] void RaiseStatus(const TReply& aReply, const QUrl& aUrl) const;

    TCalDavSettings FSettings;
    std::unique_ptr<QNetworkAccessManager> FNetwork;
};

// Parsing of WebDAV multistatus replies, apart so that tests can feed it.
struct TDavProp
{
    // Namespace URI and local name, e.g. "DAV:" and "getetag".
    QString ns;
    QString name;
    QString text;
    // Namespace-qualified names ("ns|name") of the elements inside it, and the
    // name attributes of comp elements (a supported component set).
    QStringList children;
    QStringList compNames;
    int status = 200;
};

struct TDavResponse
{
    QString href;
    // The response's own status (a removed member in a sync report); 0 when
    // the statuses are per property.
    int status = 0;
    std::vector<TDavProp> props;

    const TDavProp* Find(const QString& aNs, const QString& aName) const;
};

struct TDavMultistatus
{
    std::vector<TDavResponse> responses;
    QString syncToken;
};

// Raises ECalDavError when aXml is no well-formed multistatus document. A
// document type declaration is refused: no entity of the server's is expanded.
TDavMultistatus ParseMultistatus(const QByteArray& aXml);
