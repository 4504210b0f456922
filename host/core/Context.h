#pragma once
#include "CoreGlobal.h"
#include <QObject>
#include <QString>
#include <QStringList>

// The session context: eight fields separated by carriage returns (character 13).
// The first four are the operator's node code, group, user name and kind code.
class QELCORE_EXPORT TQELContext {
public:
    static constexpr QChar Separator = QChar(13);
    static constexpr int FieldCount = 8;

    void SetAsString(const QString &context);
    QString AsString() const { return m_text; }
    // Field i (0-based); empty when the context has fewer fields.
    QString Value(int i) const;
    QString NodeCode() const { return Value(0); }
    QString Group() const { return Value(1); }
    QString UserName() const { return Value(2); }
    QString KindCode() const { return Value(3); }

    // Builds a context from its fields (missing ones empty, always eight).
    static QString Compose(const QStringList &fields);
    // Every statement carries the context, so text GBK cannot hold in it would
    // refuse every command: throws EHostError naming the field and the character.
    static void Check(const QString &context);

private:
    QString m_text;
    QStringList m_fields;
};

// Non-visual component that receives the session context and announces it.
class QELCORE_EXPORT TQELCSnapIn : public QObject {
    Q_OBJECT
public:
    explicit TQELCSnapIn(QObject *parent = nullptr);
    void SetContext(const QString &context);
    QString Context() const { return m_context; }

signals:
    void OnContextChange(TQELCSnapIn *sender);

private:
    QString m_context;
};
