// The plug-in's built-in tables that the model description files point into:
// paper ids with their name strings, paper sources, paper types and media
// types, and the built-in values of the description keys.
#pragma once

#include <array>

#include "platform/windef.h"

namespace model_tables {

struct PaperNames {
    WORD paperId;
    WORD shortNameId;  // string of the string resource library
    WORD longNameId;
};

// Row k of a paper table takes its names from the first entry from k on with
// its paper id; the repeated ids let later rows find theirs.
inline constexpr std::array<PaperNames, 59> kPaperNames{{
    {9, 300, 9000},   {11, 301, 9001},  {70, 302, 9002},  {13, 303, 9003},  {263, 304, 9004}, {1, 305, 9005},
    {5, 306, 9006},   {14, 307, 9007},  {7, 308, 9008},   {43, 309, 9009},  {82, 310, 9010},  {73, 311, 9011},
    {74, 312, 9012},  {91, 313, 9013},  {264, 314, 9014}, {27, 315, 9015},  {28, 316, 9016},  {20, 317, 9017},
    {37, 321, 9021},  {256, 320, 9020}, {19, 322, 9022},  {30, 323, 9023},  {266, 324, 9024}, {8, 325, 9025},
    {12, 326, 9026},  {267, 327, 9027}, {268, 328, 9028}, {3, 329, 9029},   {269, 330, 9030}, {270, 331, 9031},
    {271, 332, 9032}, {30, 323, 9023},  {256, 320, 9020}, {8, 318, 9018},   {12, 319, 9019},  {69, 310, 9010},
    {71, 333, 9033},  {72, 334, 9034},  {274, 335, 9035}, {257, 340, 9040}, {258, 341, 9041}, {259, 342, 9042},
    {260, 343, 9043}, {261, 344, 9044}, {262, 345, 9045}, {275, 349, 9049}, {276, 350, 9050}, {277, 351, 9051},
    {278, 354, 9052}, {279, 355, 9053}, {280, 356, 9054}, {281, 357, 9055}, {282, 358, 9056}, {283, 359, 9057},
    {284, 360, 9058}, {285, 361, 9059}, {88, 362, 9060},  {6, 353, 9061},   {31, 352, 9062},
}};

struct Source {
    WORD id;      // the DEVMODE bin code, or the driver's own
    WORD nameId;  // string of the string resource library
    DWORD trayBit;  // its bit in an option string's TRAY group
    WORD value1;
    WORD value2;
};

inline constexpr std::array<Source, 9> kSources{{
    {7, 211, 0x80, 1, 1},
    {1, 200, 0x1, 1, 1},
    {259, 201, 0x2, 1, 2},
    {260, 204, 0x10, 1, 2},
    {261, 209, 0x20, 1, 2},
    {262, 210, 0x40, 1, 2},
    {258, 202, 0x8, 1, 3},
    {4, 203, 0x4, 1, 4},
    {4, 205, 0x4, 1, 4},
}};

// Paper types 512 to 520, named by strings 9800 to 9808.
inline constexpr std::size_t kPaperTypeCount = 9;
inline constexpr WORD kFirstPaperTypeId = 512;
inline constexpr WORD kFirstPaperTypeNameId = 9800;

struct Media {
    WORD id;
    WORD nameId;
};

// The media types a model's AllMediatype keys "1" to "29" describe, in order.
inline constexpr std::array<Media, 29> kMedia{{
    {0, 1314},  {1, 1302},  {2, 1301},  {3, 1304},  {4, 1303},  {5, 1308},  {7, 1309},  {6, 9802},
    {8, 1310},  {9, 1311},  {10, 1312}, {11, 1315}, {19, 1313}, {20, 1316}, {21, 1317}, {22, 1318},
    {23, 1319}, {24, 1322}, {25, 1323}, {26, 1324}, {12, 1305}, {13, 1307}, {27, 1325}, {28, 1326},
    {29, 1327}, {30, 1328}, {31, 1329}, {32, 1330}, {33, 1322},
}};

// The strings the model code reads from the string resource library.
inline constexpr UINT kStringPaperListAsRead = 1818;  // Yes/No: keep PaperSize in every country
inline constexpr UINT kStringMillimetres = 700;

// Built-in values of the description keys.
inline constexpr DWORD kDefaultCapabilities = 0x806;
inline constexpr char16_t kDefaultPaperList[] = u"0, 1, 2, 3, 5, 6, 7, 8, 9,10,11,12,13,14,15,16,20,17,18,33,34,19";
inline constexpr char16_t kDefaultSourceList[] = u"0,7,1,2,6";
inline constexpr char16_t kDefaultPaperTypeList[] = u"0,5,1,4,6,7,3,2";
inline constexpr char16_t kDefaultMediaTypeList[] = u"0,1,2,3,4,5,9,10,7";
inline constexpr char16_t kDefaultMemory[] = u"3696";
inline constexpr char16_t kDefaultFinisher[] = u"PUNCH.2__ + TRAY._2_45";
inline constexpr char16_t kDefaultQualityRows[] = u"3,2,1,0";
inline constexpr char16_t kDefaultTimeOuts[] = u"-1,-1,-1,-1";
inline constexpr char16_t kDefaultOptionString[] = u"TRAY.12345AMPD_ + STK.UD + FIN.UD + EJS23L23PS";

// Rows of the print resolution table that a quality may name.
inline constexpr int kResolutionRows = 13;

}  // namespace model_tables
