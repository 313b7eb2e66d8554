#include "hydrix/config/catalogue_codes.h"

#include <array>

namespace hx {
namespace {

constexpr std::array<ControlCaption, 44> kMainScreenCaptions = {{
    {"MnuConnect", "&USB Connect"},
    {"nmuparametres", "Parameters"},
    {"nmuBootLoad", "Firmware Update"},
    {"MnuAide", "?"},
    {"mnuApropos", "About"},
    {"FrameInformations", "Settings"},
    {"LabelVersion", "Firmware Version"},
    {"Label2", "Last Programming Date"},
    {"Label15", "Serial N\u00B0"},
    {"FrameMaintenance", "Maintenance"},
    {"State", "HydrixIP State"},
    {"Command_tension", "Calibrate V (volts)"},
    {"SetEndOFChargeTempo", "Set Tempo"},
    {"CommandCalibrationCLK", "Calibrate Clock"},
    {"Programmer", "Programmer "},
    {"CheckClockSpeed", "FastClock"},
    {"SetTime", "Set Time"},
    {"LectureContinu", "Continuous Reading"},
    {"Ecrire", "Write Parameters"},
    {"Lire", "Read Parameters"},
    {"Raz", "Factory Values"},
    {"Sortir", "Exit"},
    {"Rapport", "Report"},
    {"Frame1", "Turbine Parameters "},
    {"Frame3", "Battery Capacity (Ah)"},
    {"FrameMeasures", "Output Control"},
    {"FrameParams", "Values"},
    {"FrameMessage", "Message"},
    {"ActivateSolenoid", "Activate"},
    {"ActivateRelay", "Activate"},
    {"LabelAlarmLevel", "Alarm Battery Level (V)"},
    {"LabelPower", "Power (W)"},
    {"lblCurrentTime", "Date"},
    {"Command1", "Clear Graphic"},
    {"mnuJournal", "Measure Log"},
    {"ValeurParDefaut1", ""},
    {"Message", ""},
    {"NumeroSerie", "--"},
    {"DateProgrammation", "--"},
    {"Version", "--"},
    {"txtCurrentTime", "--"},
    // Control arrays share one code, seeded by the first element visited;
    // their captions are then set from the fixed captions.
    {"Label1", "Battery Voltage (V)"},
    {"Label3", "End of Charge Tempo (S)"},
    {"Frame2", "Continuous Reading Graphic"},
}};

constexpr std::array<FixedCaption, 17> kFixedCaptions = {{
    {"Label1", 1, "Temperature (\u00B0C)"},
    {"Label1", 0, "Battery Voltage (V)"},
    {"Label1", 2, "Battery Charging Current (mA)"},
    {"Label1", 3, "Battery Discharging Current (mA)"},
    {"Label1", 15, "Start @Low Battery Level (V)"},
    {"Label1", 14, "Start Tempo @ High Battery Level (V)"},
    {"Label1", 4, "Solenoid Pulse(ms)"},
    {"Label1", 9, "Forced charge 1 (h)"},
    {"Label1", 10, "Forced charge 2 (h)"},
    {"Label1", 12, "Battery Capacity (Ah)\u00A0: Tempo (Hr)"},
    {"Label1", 6, "Relay"},
    {"Label1", 7, "ON (1)/OFF (0)"},
    {"Label1", 20, "Serial Number"},
    {"Label1", 5, "Not Charging"},
    {"Label1", 8, "Battery Default"},
    {"Label3", -1, "End of Charge Tempo (S)"},
    {"Frame2", -1, "Continuous Reading Graphic"},
}};

constexpr std::array<const char*, 10> kMessageCodes = {
    "Hydrix Absent",
    "Missing Hydrix",
    "V Calibrated Set",
    "Parameters Writed",
    "Time Set",
    "Value Must be between ",
    " and ",
    "Value must be numeric",
    "Etes vous sur de vouloir changer la version actuelle ? ",
    "Ouvrir Fichier HEX",
};

}  // namespace

std::span<const ControlCaption> MainScreenCaptions() { return kMainScreenCaptions; }
std::span<const FixedCaption> FixedCaptions() { return kFixedCaptions; }
std::span<const char* const> MessageCodes() { return kMessageCodes; }

}  // namespace hx
