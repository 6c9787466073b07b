// Handlers of the device operations: enrolment and test of trinkets, zone parameters,
// journal, version, counter reset and memory dump.
#include "mntavro.h"

void TFmTavro::NSetMasterClick()
{
}

void TFmTavro::BtSetTrinkClick()
{
}

void TFmTavro::BtTestTrinketClick()
{
}

void TFmTavro::BtTrinkCancelClick()
{
}

void TFmTavro::NSetParamClick()
{
}

void TFmTavro::BtWrParamsClick()
{
}

void TFmTavro::NJournalClick()
{
}

void TFmTavro::NVersionClick()
{
}

void TFmTavro::NClrCntClick()
{
}

void TFmTavro::EEPROMClick()
{
}

void TFmTavro::NTrinketClick()
{
    SFTrinketDefine->ShowModal();
}

int TFmTavro::SetupTrinket(int slot)
{
    Q_UNUSED(slot);
    return 0;
}
