#include "ui/qt/DateTimeField.h"

namespace orvel::ui {

DateTimeField::DateTimeField(QWidget* parent) : QDateTimeEdit(parent) {}

void DateTimeField::setValue(qint64 minutes) {
    if (timeOnly()) {
        setTime(QTime(0, 0).addSecs(static_cast<int>(minutes % (24 * 60) * 60)));
    } else {
        setDateTime(QDateTime::fromSecsSinceEpoch(minutes * 60));
    }
}

bool DateTimeField::timeOnly() const {
    return !(displayedSections() & QDateTimeEdit::DateSections_Mask);
}

qint64 DateTimeField::minutesOf(const QDateTime& at) const {
    if (timeOnly())
        return at.time().msecsSinceStartOfDay() / 60000;
    return at.toSecsSinceEpoch() / 60;
}

}  // namespace orvel::ui
