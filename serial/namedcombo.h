// A drop-down list that screen readers hear by its accessible name. Qt on
// Linux names a plain QComboBox by its current value ("Heat", "9600") and
// leaves the label to a relation, so four Mode lists sound alike and a list
// without a label has no name at all.
#pragma once

#include <QComboBox>

namespace q274 {

class TNamedComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TNamedComboBox(QWidget *parent = nullptr);
};

} // namespace q274
