// Drop-down lists bound to one setting of a port: they list the allowed
// values, show the port's current value and write the chosen one back.
#pragma once

#include "comport.h"
#include "namedcombo.h"

#include <QComboBox>
#include <QMetaObject>
#include <QString>
#include <QStringList>

namespace q274 {

enum TComProperty : int { cpNone, cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl };

// The items a list of that kind offers; cpPort reads the system's ports
// (SystemSerialPorts) and may raise EComPort code 23.
QStringList ComPropertyItems(TComProperty prop);

// The bound port, the property and one pending value per kind. Plain
// object, so the rules can be used without a widget.
class TComSelect {
public:
    TCustomComPort *ComPort = nullptr;
    TComProperty ComProperty = cpNone;
    bool AutoApply = false;

    QString Port;
    TBaudRate BaudRate = brCustom;
    TDataBits DataBits = dbFive;
    TStopBits StopBits = sbOneStopBit;
    TParityBits ParityBits = prNone;
    TFlowControl FlowControl = fcHardware;

    // The display text of the bound port's current value for the property;
    // empty without a port or for cpNone.
    QString PortValueText() const;
    // Turns an item text into the pending value; a text that names no value
    // gives br9600, dbEight, sbOneStopBit, prNone or fcCustom. Applies at
    // once with AutoApply.
    void SelectionChanged(const QString &text);
    // Writes the pending value to the bound port; nothing without a port.
    void Apply();
};

class TComComboBox : public TNamedComboBox {
public:
    explicit TComComboBox(QWidget *parent = nullptr);
    ~TComComboBox() override;

    TCustomComPort *ComPort() const { return FSelect.ComPort; }
    // Binding another port fills the list from it; the list forgets the port
    // when it is destroyed and selects its first item.
    void SetComPort(TCustomComPort *port);

    TComProperty ComProperty() const { return FSelect.ComProperty; }
    // Refills the items; then selects the port's value, or the first item
    // when no port is bound.
    void SetComProperty(TComProperty prop);

    bool AutoApply() const { return FSelect.AutoApply; }
    void SetAutoApply(bool v) { FSelect.AutoApply = v; }

    // The selected item's text, empty with no selection.
    QString Text() const;
    // Selects the item with exactly that text, if there is one.
    void SetText(const QString &text);

    // Selects the item matching the port's value (ignoring case), or nothing;
    // a match also becomes the pending value.
    void UpdateSettings();
    // Writes the pending value to the port.
    void ApplySettings() { FSelect.Apply(); }
    // The user chose an item (connected to activated()).
    void Change();

    const TComSelect &Select() const { return FSelect; }

private:
    void PortDestroyed();

    TComSelect FSelect;
    QMetaObject::Connection FDestroyedConnection;
};

} // namespace q274
