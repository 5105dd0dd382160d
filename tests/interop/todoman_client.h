#pragma once

// todoman with vdirsyncer on one collection, as another user's program: each
// call runs todoman_client.py (see there) on a folder of this object's own.

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <vector>

// A task as todoman lists it (its --porcelain form).
struct TTodomanTask
{
    QString summary;
    QString description;
    bool completed = false;
    // Local time "YYYY-MM-DD HH:MM:SS", as the store holds times; empty for none.
    QString due;
    QString completedAt;
    int percent = 0;
    int priority = 0;
};

class TTodoman
{
public:
    explicit TTodoman(const QString& aScript) : FScript(aScript) {}

    // What is missing to run todoman with vdirsyncer; empty when nothing is.
    static QString Missing()
    {
        QStringList missing;
        for (const QString& program : {QStringLiteral("todoman"), QStringLiteral("vdirsyncer")}) {
            if (QStandardPaths::findExecutable(program).isEmpty())
                missing << program;
        }
        return missing.isEmpty()
                   ? QString()
                   : missing.join(QStringLiteral(", ")) + QStringLiteral(" not installed");
    }

    // The last failure: the command and what it printed.
    const QString& Error() const { return FError; }

    bool Setup(const QString& aUrl, const QString& aUser, const QString& aPassword)
    {
        return Run({QStringLiteral("setup"), aUrl, aUser, aPassword});
    }
    bool Sync() { return Run({QStringLiteral("sync")}); }
    // Every task, or those of one category.
    bool List(std::vector<TTodomanTask>& aTasks, const QString& aCategory = QString())
    {
        aTasks.clear();
        QByteArray output;
        QStringList arguments{QStringLiteral("list")};
        if (!aCategory.isEmpty())
            arguments << aCategory;
        if (!Run(arguments, &output))
            return false;
        for (const QJsonValue& value : QJsonDocument::fromJson(output).array()) {
            const QJsonObject task = value.toObject();
            TTodomanTask item;
            item.summary = task.value(QStringLiteral("summary")).toString();
            item.description = task.value(QStringLiteral("description")).toString();
            item.completed = task.value(QStringLiteral("completed")).toBool();
            item.due = LocalText(task.value(QStringLiteral("due")));
            item.completedAt = LocalText(task.value(QStringLiteral("completed_at")));
            item.percent = task.value(QStringLiteral("percent")).toInt();
            item.priority = task.value(QStringLiteral("priority")).toInt();
            aTasks.push_back(item);
        }
        return true;
    }
    // The summaries of List, sorted.
    QStringList Summaries(const QString& aCategory = QString())
    {
        std::vector<TTodomanTask> tasks;
        QStringList summaries;
        if (!List(tasks, aCategory))
            return {QStringLiteral("<todoman failed: %1>").arg(FError)};
        for (const TTodomanTask& task : tasks)
            summaries << task.summary;
        summaries.sort();
        return summaries;
    }
    // Options as todoman_client.py takes them: --due, --start, --priority,
    // --note; "edit" also --summary.
    bool New(const QString& aSummary, const QStringList& aOptions = {})
    {
        return Run(QStringList{QStringLiteral("new"), aSummary} + aOptions);
    }
    bool Edit(const QString& aSummary, const QStringList& aOptions)
    {
        return Run(QStringList{QStringLiteral("edit"), aSummary} + aOptions);
    }
    bool Done(const QString& aSummary) { return Run({QStringLiteral("done"), aSummary}); }
    bool Reopen(const QString& aSummary) { return Run({QStringLiteral("reopen"), aSummary}); }
    bool Delete(const QString& aSummary) { return Run({QStringLiteral("delete"), aSummary}); }
    // Content lines added to the task's VTODO by hand (todoman's raw edit).
    bool Append(const QString& aSummary, const QStringList& aLines)
    {
        return Run(QStringList{QStringLiteral("append"), aSummary} + aLines);
    }
    // The text of the task's file in todoman's folder.
    bool File(const QString& aSummary, QByteArray& aText)
    {
        return Run({QStringLiteral("file"), aSummary}, &aText);
    }

private:
    static QString LocalText(const QJsonValue& aSeconds)
    {
        if (aSeconds.isNull() || aSeconds.isUndefined())
            return QString();
        return QDateTime::fromSecsSinceEpoch(qint64(aSeconds.toDouble()))
            .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    }

    bool Run(const QStringList& aArguments, QByteArray* aOutput = nullptr)
    {
        QProcess process;
        process.start(QStringLiteral("/usr/bin/python3"),
                      QStringList{FScript, FDir.path()} + aArguments);
        // A ceiling far above the second or so that a call takes.
        const bool finished = process.waitForFinished(120000);
        const QByteArray output = process.readAllStandardOutput();
        if (!finished || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
            FError = QStringLiteral("todoman_client.py %1: %2%3")
                         .arg(aArguments.join(QLatin1Char(' ')), QString::fromUtf8(output),
                              QString::fromUtf8(process.readAllStandardError()));
            if (!finished)
                process.kill();
            return false;
        }
        if (aOutput)
            *aOutput = output;
        return true;
    }

    QString FScript;
    QTemporaryDir FDir;
    QString FError;
};
