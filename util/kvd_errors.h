#pragma once

#include <QString>
#include <stdexcept>

// Base of every error this program raises on purpose. It carries the message as
// UTF-16 text and a class name, which the log writes as "(X) class: message".
class EkvdError : public std::runtime_error
{
public:
    explicit EkvdError(const QString& aMessage)
        : std::runtime_error(aMessage.toStdString()), FMessage(aMessage)
    {
    }
    const QString& Message() const { return FMessage; }
    virtual QString ClassName() const { return QStringLiteral("Exception"); }

private:
    QString FMessage;
};

// Declares an error class whose ClassName() is its own name.
#define KVD_DECLARE_ERROR(Name, Base)                                                              \
    class Name : public Base                                                                       \
    {                                                                                              \
    public:                                                                                        \
        using Base::Base;                                                                          \
        QString ClassName() const override { return QStringLiteral(#Name); }                       \
    };

KVD_DECLARE_ERROR(EConvertError, EkvdError)
KVD_DECLARE_ERROR(EDatabaseError, EkvdError)

// The text shown or logged for any exception: our own errors give their message,
// others the text of what().
QString ErrorMessage(const std::exception& aError);
// The class name written into error log lines.
QString ErrorClassName(const std::exception& aError);
