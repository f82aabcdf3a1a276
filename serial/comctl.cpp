#include "comctl.h"

#include "portlist.h"

namespace q274 {

QStringList ComPropertyItems(TComProperty prop)
{
    QStringList items;
    switch (prop) {
    case cpNone: break;
    case cpPort: items = SystemSerialPorts(); break;
    case cpBaudRate:
        for (int v = brCustom; v <= br256000; ++v)
            items << BaudRateToStr(TBaudRate(v));
        break;
    case cpDataBits:
        for (int v = dbFive; v <= dbEight; ++v)
            items << DataBitsToStr(TDataBits(v));
        break;
    case cpStopBits:
        for (int v = sbOneStopBit; v <= sbTwoStopBits; ++v)
            items << StopBitsToStr(TStopBits(v));
        break;
    case cpParity:
        for (int v = prNone; v <= prSpace; ++v)
            items << ParityToStr(TParityBits(v));
        break;
    case cpFlowControl:
        for (int v = fcHardware; v <= fcCustom; ++v)
            items << FlowControlToStr(TFlowControl(v));
        break;
    }
    return items;
}

// ---- TComSelect ----

QString TComSelect::PortValueText() const
{
    if (!ComPort)
        return {};
    switch (ComProperty) {
    case cpNone: return {};
    case cpPort: return ComPort->Port();
    case cpBaudRate: return BaudRateToStr(ComPort->BaudRate());
    case cpDataBits: return DataBitsToStr(ComPort->DataBits());
    case cpStopBits: return StopBitsToStr(ComPort->StopBits());
    case cpParity: return ParityToStr(ComPort->Parity().Bits());
    case cpFlowControl: return FlowControlToStr(ComPort->FlowControl().FlowControl());
    }
    return {};
}

void TComSelect::SelectionChanged(const QString &text)
{
    switch (ComProperty) {
    case cpNone: break;
    case cpPort: Port = text; break;
    case cpBaudRate: BaudRate = StrToBaudRate(text).value_or(br9600); break;
    case cpDataBits: DataBits = StrToDataBits(text).value_or(dbEight); break;
    case cpStopBits: StopBits = StrToStopBits(text).value_or(sbOneStopBit); break;
    case cpParity: ParityBits = StrToParity(text).value_or(prNone); break;
    case cpFlowControl: FlowControl = StrToFlowControl(text).value_or(fcCustom); break;
    }
    if (AutoApply)
        Apply();
}

void TComSelect::Apply()
{
    if (!ComPort)
        return;
    switch (ComProperty) {
    case cpNone: break;
    case cpPort: ComPort->SetPort(Port); break;
    case cpBaudRate: ComPort->SetBaudRate(BaudRate); break;
    case cpDataBits: ComPort->SetDataBits(DataBits); break;
    case cpStopBits: ComPort->SetStopBits(StopBits); break;
    case cpParity: ComPort->Parity().SetBits(ParityBits); break;
    case cpFlowControl: ComPort->FlowControl().SetFlowControl(FlowControl); break;
    }
}

// ---- TComComboBox ----

TComComboBox::TComComboBox(QWidget *parent) : TNamedComboBox(parent)
{
    setEditable(false);
    connect(this, &QComboBox::activated, this, [this](int) { Change(); });
}

TComComboBox::~TComComboBox() { disconnect(FDestroyedConnection); }

void TComComboBox::SetComPort(TCustomComPort *port)
{
    if (port == FSelect.ComPort)
        return;
    disconnect(FDestroyedConnection);
    FSelect.ComPort = port;
    if (port) {
        FDestroyedConnection = connect(port, &QObject::destroyed, this, [this] { PortDestroyed(); });
        UpdateSettings();
    }
}

void TComComboBox::PortDestroyed()
{
    FSelect.ComPort = nullptr;
    disconnect(FDestroyedConnection);
    if (count() > 0)
        setCurrentIndex(0);
}

void TComComboBox::SetComProperty(TComProperty prop)
{
    FSelect.ComProperty = prop;
    const QStringList items = ComPropertyItems(prop);
    clear();
    addItems(items);
    if (count() == 0)
        return;
    if (FSelect.ComPort)
        UpdateSettings();
    else
        setCurrentIndex(0);
}

QString TComComboBox::Text() const { return currentIndex() < 0 ? QString() : itemText(currentIndex()); }

void TComComboBox::SetText(const QString &text)
{
    const int i = findText(text, Qt::MatchFixedString | Qt::MatchCaseSensitive);
    if (i >= 0)
        setCurrentIndex(i);
}

void TComComboBox::UpdateSettings()
{
    const QString value = FSelect.PortValueText();
    int found = -1;
    for (int i = 0; i < count(); ++i) {
        if (itemText(i).compare(value, Qt::CaseInsensitive) == 0) {
            found = i;
            break;
        }
    }
    // A port name that means the same device as an item ("COM1" and ttyS0,
    // "/dev/ttyUSB0" and ttyUSB0) shows that item, but stays the pending
    // name: OK without a choice must not rename (and so reopen) the port.
    QString pending = found >= 0 ? itemText(found) : QString();
    if (found < 0 && FSelect.ComProperty == cpPort && !value.isEmpty()) {
        const std::string device = DevicePathForPort(value);
        for (int i = 0; i < count() && found < 0; ++i)
            if (DevicePathForPort(itemText(i)) == device)
                found = i;
        pending = value;
    }
    setCurrentIndex(found);
    if (found < 0)
        return;
    // The pending value comes from the item, without applying it.
    const bool autoApply = FSelect.AutoApply;
    FSelect.AutoApply = false;
    FSelect.SelectionChanged(pending);
    FSelect.AutoApply = autoApply;
}

void TComComboBox::Change() { FSelect.SelectionChanged(Text()); }

} // namespace q274
