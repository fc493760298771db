#include "ui/NumberSpinBox.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

#include "params/NumberInput.h"

namespace zarvik {

namespace {

params::TTypedNumber Parse(const QString& text, int decimals) {
    return params::ParseTypedNumber(text.toStdString(), decimals);
}

bool IsEnter(const QKeyEvent* event) { return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter; }

class EnterPresses : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress && IsEnter(static_cast<QKeyEvent*>(event))) {
            auto* button = static_cast<QPushButton*>(watched);
            if (button->isEnabled()) button->click();
            return true;
        }
        return false;
    }
};

}  // namespace

TNumberSpinBox::TNumberSpinBox(QWidget* parent) : QDoubleSpinBox(parent) {}

QString TNumberSpinBox::InputProblem() const {
    const params::TTypedNumber typed = Parse(cleanText(), decimals());
    if (typed.problem) return QString::fromUtf8(typed.problem);
    if (*typed.value < minimum() || *typed.value > maximum())
        return QStringLiteral("Число вне допустимых пределов: от %1 до %2")
            .arg(textFromValue(minimum()), textFromValue(maximum()));
    return QString();
}

QValidator::State TNumberSpinBox::validate(QString& text, int&) const {
    QString body = text;
    if (!prefix().isEmpty() && body.startsWith(prefix())) body.remove(0, prefix().size());
    if (!suffix().isEmpty() && body.endsWith(suffix())) body.chop(suffix().size());
    const params::TTypedNumber typed = Parse(body, decimals());
    if (typed.value && *typed.value >= minimum() && *typed.value <= maximum()) return QValidator::Acceptable;
    // A refused text stays as typed; the window names its fault.
    return QValidator::Intermediate;
}

double TNumberSpinBox::valueFromText(const QString& text) const {
    const params::TTypedNumber typed = Parse(text, decimals());
    return typed.value ? *typed.value : value();
}

QString TNumberSpinBox::textFromValue(double v) const {
    QString text = QString::number(v, 'f', decimals());
    if (locale().decimalPoint() == QStringLiteral(",")) text.replace(QLatin1Char('.'), QLatin1Char(','));
    return text;
}

void TNumberSpinBox::fixup(QString&) const {
    // Nothing is taken out of what was typed.
}

void TNumberSpinBox::keyPressEvent(QKeyEvent* event) {
    if (IsEnter(event) && !InputProblem().isEmpty()) {
        event->ignore();  // on to the window, which shows the fault
        return;
    }
    QDoubleSpinBox::keyPressEvent(event);
}

void TNumberSpinBox::focusOutEvent(QFocusEvent* event) {
    if (!InputProblem().isEmpty()) {
        QCoreApplication::sendEvent(lineEdit(), event);
        QWidget::focusOutEvent(event);
        return;
    }
    QDoubleSpinBox::focusOutEvent(event);
}

void PressOnEnter(QPushButton* button) { button->installEventFilter(new EnterPresses(button)); }

}  // namespace zarvik
