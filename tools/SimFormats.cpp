#include "SimFormats.h"

namespace tools {

namespace {

struct Row {
    const char* preset;
    const char* bytes;
    const char* value;
};

// Layouts the makers document for these instruments. Lines cut at a CR terminator carry the LF
// of the previous CR LF at their start, as the reader sees them.
// clang-format off
constexpr Row ROWS[] = {
    // A&D: CSV output, with ID number, date and time in front; decimal comma; NU format.
    {"AND", "ST,+000.1278,  g\r\n", "+000.1278"},
    {"AND", "LAB-0123,2004/07/01,12:34:56,ST,+0000.1278,  g\r\n", "+0000.1278"},
    {"AND", "ST;+000,1278;  g\r\n", "+000,1278"},
    {"AND", "ST,G ,+01234.5kg\r\n", "+01234.5"},
    {"AND", "+00001.27\r\n", "+00001.27"},
    {"AND", "SD     45.118 g\r\n", "45.118"},
    {"AND", "OL,+999999.9  g\r\n", ""},
    {"AND", "No.007\r\n", ""},
    {"AND", "2021/03/15\r\n", ""},
    // Sartorius: ID codes in front of the 16-character record; GMP header and status lines.
    {"SARTORIUS", "+   123.56 g  \r\n", "+   123.56"},
    {"SARTORIUS", "N     +  123.5[6]g  \r\n", "+  123.56"},
    {"SARTORIUS", "N1    +111.25507 mg \r\n", "+111.25507"},
    {"SARTORIUS", "Qnt   +      125 pcs\r\n", "+      125"},
    {"SARTORIUS", "14.01.2011    09:43\r\n", ""},
    {"SARTORIUS", "Ser.no.    12345678\r\n", ""},
    {"SARTORIUS", "Setp  +   100.00 g  \r\n", ""},
    {"SARTORIUS", "Stat        H       \r\n", ""},
    {"SARTORIUS", "Stat     Err 101    \r\n", ""},
    // Mettler Toledo MT-SICS answers.
    {"METTLER_DIALOG", "S S     -3.4710 g\r\n", "-3.4710"},
    {"METTLER_DIALOG", "S D     129.07 g\r\n", "129.07"},
    {"METTLER_DIALOG", "T S      25.000 g\r\n", "25.000"},
    {"METTLER_DIALOG", "S +\r\n", ""},
    {"METTLER_DIALOG", "S -\r\n", ""},
    {"METTLER_DIALOG", "I4 A \"1234567\"\r\n", ""},
    {"METTLER_DIALOG", "ES\r\n", ""},
    // Mettler Toledo print format: stability mark or net legend in front; out of range.
    {"METTLER_PRINT", "S      45.120 g\r\n", "45.120"},
    {"METTLER_PRINT", "SD     45.118 g\r\n", "45.118"},
    {"METTLER_PRINT", "     N       0.3752 g\r\n", "0.3752"},
    {"METTLER_PRINT", "SI+\r\n", ""},
    {"PRECISA", "S S      12.345 g\r\n", "12.345"},
    {"PRECISA", "N:  +   12.345 g\r\n", "+   12.345"},
    {"PRECISA", "G:  +   13.000 g\r\n", ""},
    {"PRECISA", "12.03.21  10:15\r\n", ""},
    // Kern KFB/KXS: status and gross/tare headers, check-weighing flags, overload.
    {"KERN_KFB", "ST,GS,+01234567  oz\r", "+01234567"},
    {"KERN_KFB", "\nUS,GS 1.342KG\r", "1.342"},
    {"KERN_KFB", "\nST,TR,+000.5000  kg\r", "+000.5000"},
    {"KERN_KFB", "\n001+001.2500\r", "+001.2500"},
    {"KERN_KFB", "\nOL,GS,+            \r", ""},
    // Ohaus: "?" after the unit while the reading moves; a pound-ounce reading has no one value.
    {"OHAUS", "        0.00 g     \r\n", "0.00"},
    {"OHAUS", "       12.73 g    ?\r\n", "12.73"},
    {"OHAUS", "    -4.118 g   NET\r\n", "-4.118"},
    {"OHAUS", "   2 lb     3.5 oz   G      \r\n", ""},
    {"OHAUSSPU", "     176.30 g ? 00:00:15\r\n", "176.30"},
    // Tanita: the weight after its Wk or Wg header, and the WB scales' two-letter header.
    {"TANITA_TL280", "{0,16,~0,1,~1,1,~2,1,MO,\"WB-3000\",Hm,172.0,Wk,64.3,MI,21.7,CS,3A\r\n",
     "64.3"},
    {"TANITA_TL280", "{0, 16, ~0, 1, MO, \"PW-650\", Da, \"30/04/2020\", TI, \"20:02\", Wk, 58.1, "
                     "Pt, 2.0, Ta, 0.0, CS, D6\r\n", "58.1"},
    {"TANITA_TL280", "S    102.4kg\r\n", "102.4"},
    // Mitutoyo: any channel; "91" answers instead of data when the gauge has none.
    {"MITUTOYO", "03A+0001.250\r", "+0001.250"},
    {"MITUTOYO", "01A-012.3400\r", "-012.3400"},
    {"MITUTOYO", "91\r", ""},
    // MyWeigh HD: stability and low-battery flags after the unit; message records.
    {"MYWEIGH_HD", ":W 012.34lbS \r", " 012.34"},
    {"MYWEIGH_HD", ":W-002.05kg  \r", "-002.05"},
    {"MYWEIGH_HD", ":W 004.90lbSL\r", " 004.90"},
    {"MYWEIGH_HD", ":MOVER   lb  \r", ""},
    // Keyence IL: the P.V. item of an SR answer; settings, errors and the overload value.
    {"KEYENCE_IL", "SR,00,037,+01.234\r\n", "+01.234"},
    {"KEYENCE_IL", "DR,04,-03.118\r\n", "-03.118"},
    {"KEYENCE_IL", "SR,00,134,2\r\n", ""},
    {"KEYENCE_IL", "ER,M0,22\r\n", ""},
    {"KEYENCE_IL", "DR,00,+99.999\r\n", ""},
    {"KEYENCE_IL", "DR,00,+EE.EEE\r\n", ""},
};
// clang-format on

}  // namespace

std::vector<FormatLine> formatLines(std::string_view preset) {
    std::vector<FormatLine> out;
    for (const Row& row : ROWS) {
        if (preset == row.preset) {
            out.push_back({row.bytes, row.value});
        }
    }
    return out;
}

}  // namespace tools
