// The main window's control ids: the numbers of its dialog template
// (app/resources.cpp), by name, for the product and its tests alike.
#pragma once

enum ControlId : int {
  IDC_STATIC = -1,                   // labels no code refers to
  IDC_READ = 1000,                   // "Read" button
  IDC_WRITE = 1001,                  // "Write" button
  IDC_UPDATE = 1002,                 // "Update" button (calibration mode)
  IDC_READ_FLASH = 1003,             // "Read Flash" button
  IDC_CLEAR_FLASH = 1004,            // "Clear Flash" button
  IDC_VERSION_LABEL = 1006,          // versionLabel
  IDC_MODEL_LABEL = 1007,            // modelLabel
  IDC_BATTERY_LABEL = 1008,          // batteryLabel
  IDC_SERIAL_NUMBER = 1009,          // serialNumber edit (calibration mode)
  IDC_RADIO_SERIAL_LABEL = 1010,     // radioSerialLabel
  IDC_HOP_CHANNEL_LABEL = 1011,      // hopChannelLabel
  IDC_VENDOR_ID_LABEL = 1012,        // vendorIdLabel
  IDC_COM_PORT = 1013,               // portName combo box
  IDC_ADDRESS_MASK_LABEL = 1014,     // addressMaskLabel
  IDC_PROGRESS = 1015,               // progressBar
  IDC_PERCENT_LABEL = 1016,          // percentLabel
  IDC_RADIO_HP = 1017,               // radioHP edit
  IDC_RADIO_ID = 1018,               // radioID edit
  IDC_RADIO_MK = 1019,               // radioMK edit
  IDC_WRAP_MEMORY = 1020,            // wrapMemory check box
  IDC_G_SWITCH_ENABLE = 1021,        // gSwitchEnable check box (never shown)
  IDC_ENABLE_NMEA = 1022,            // enableNmea check box
  IDC_ENABLE_TX_SENTENCE = 1023,     // enableTxSentence check box
  IDC_STORE_INTERVAL = 1024,         // storeInterval edit
  IDC_RADIO_RO = 1025,               // radioRO edit
  IDC_STATUS = 1026,                 // statusText, the status line
  IDC_TRANSMIT_INTERVAL = 1027,      // transmitInterval edit
  IDC_RADIO_DT = 1028,               // radioDT edit
  IDC_RADIO_RN = 1029,               // radioRN edit
  IDC_RADIO_RR = 1030,               // radioRR edit
  IDC_SHUTDOWN_VOLTAGE = 1034,       // shutdownVoltage edit
  IDC_LOW_VOLTAGE_SHUTDOWN = 1035,   // lowVoltageShutdown check box
  IDC_ENABLE_DATA_LOGGING = 1036,    // enableDataLogging check box
  IDC_METERS_TO_FEET = 1037,         // metersToFeet check box
  IDC_STORE_HMS = 1038,              // storeHms check box (never shown)
  IDC_GO = 1039,                     // "Go!" button
  IDC_SERIAL_NUMBER_TAG = 1042,      // "Ser#" beside the serial number edit
  IDC_RADIO_HP_TAG = 1043,           // "ATHP"
  IDC_RADIO_MK_TAG = 1044,           // "ATMK"
  IDC_RADIO_DT_TAG = 1045,           // "ATDT"
  IDC_RADIO_ID_TAG = 1046,           // "ATID"
  IDC_TRANSMIT_SLOT = 1047,          // transmitSlot edit
  IDC_PROGRAM_VERSION_LABEL = 1048,  // programVersionLabel
  IDC_FLASH_TEST = 1049,             // "Flash Test" button
  IDC_SERIAL_NUMBER_LABEL = 1050,    // serialNumberLabel
  IDC_DESTINATION_LABEL = 1051,      // destinationLabel
  IDC_RADIO_RO_TAG = 1052,           // "ATRO"
  IDC_RADIO_RN_TAG = 1053,           // "ATRN"
  IDC_RADIO_RR_TAG = 1054,           // "ATRR"
  IDC_FIX_KML = 1055,                // "Fix KML" button
  IDC_CLEAR_FLASH_PORT = 1056,       // the erase confirmation's port line
};
