#pragma once

#include <QDateTimeEdit>

namespace orvel::ui {

// A date or time field whose time a reader reads and sets as a number: Qt's accessible spin box
// asks a spin box for its "value", "minimum", "maximum" and "stepSize", which a date field does
// not have, and read every one as 0. The number is minutes: of the day for a time alone, else
// since 1970.
class DateTimeField final : public QDateTimeEdit {
    Q_OBJECT
    Q_PROPERTY(qint64 value READ value WRITE setValue)
    Q_PROPERTY(qint64 minimum READ minimum)
    Q_PROPERTY(qint64 maximum READ maximum)
    Q_PROPERTY(int stepSize READ stepSize)

  public:
    explicit DateTimeField(QWidget* parent = nullptr);

    qint64 value() const { return minutesOf(dateTime()); }
    void setValue(qint64 minutes);
    qint64 minimum() const { return minutesOf(minimumDateTime()); }
    qint64 maximum() const { return minutesOf(maximumDateTime()); }
    static int stepSize() { return 1; }

  private:
    bool timeOnly() const;
    qint64 minutesOf(const QDateTime& at) const;
};

}  // namespace orvel::ui
