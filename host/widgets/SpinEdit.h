#pragma once
#include "HostGlobal.h"
#include <QRegularExpression>
#include <QSpinBox>
#include <algorithm>

// A whole-number spin box the operator may type past its bounds: the value is
// brought to the nearest bound when the box loses the focus (or on
// interpretText), and text that is not a number counts as the minimum.
class QELHOST_EXPORT TQELSpinEdit : public QSpinBox {
    Q_OBJECT
public:
    explicit TQELSpinEdit(QWidget *parent = nullptr);

    QValidator::State validate(QString &input, int &pos) const override;
    void fixup(QString &input) const override;
};
