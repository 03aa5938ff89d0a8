// Control parameters: three numbered tables (integer, double, character),
// their set-flags and names, and the read-only problem attributes.
#ifndef KLSOL_RUNTIME_CONTROLS_H
#define KLSOL_RUNTIME_CONTROLS_H

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>

namespace kl {

inline constexpr int kIntControlCount = 147;
inline constexpr int kDoubleControlCount = 81;
inline constexpr int kCharControlCount = 8;
// The double store runs on past the controls with internal values.
inline constexpr int kDoubleStoreSize = 132;

// Control numbers, by name.
namespace ic {
inline constexpr int M_R = 1;
inline constexpr int M_C = 2;
inline constexpr int M_M = 3;
inline constexpr int NRXTRA = 4;
inline constexpr int NCXTRA = 5;
inline constexpr int NMXTRA = 6;
inline constexpr int ITRLIM = 7;
inline constexpr int IFMSG = 8;
inline constexpr int ITRLOG = 9;
inline constexpr int IFSCAL = 10;
inline constexpr int IFPRES = 11;
inline constexpr int ICRASH = 12;
inline constexpr int IPHSF = 13;
inline constexpr int INVFRQ = 14;
inline constexpr int INVMIN = 15;
inline constexpr int NGEMAX = 16;
inline constexpr int INTMAX = 17;
inline constexpr int MAXNOD = 18;
inline constexpr int MXANOD = 19;
inline constexpr int MAXTIM = 20;
inline constexpr int MAXSOL = 21;
inline constexpr int IPKEEP = 22;
inline constexpr int IALG = 23;
inline constexpr int IPACTN = 24;
inline constexpr int KCRITM = 25;
inline constexpr int NDSEL1 = 26;
inline constexpr int NDSEL2 = 27;
inline constexpr int GPRINT = 28;
inline constexpr int IGNORE = 29;
inline constexpr int IFNRW = 30;
inline constexpr int LENDBL = 31;
inline constexpr int PRNLVL = 32;
inline constexpr int IFBSNM = 33;
inline constexpr int NLINES = 34;
inline constexpr int IFPMSG = 35;
inline constexpr int M_S = 36;
inline constexpr int NEXTRA = 37;
inline constexpr int MXCPOL = 38;
inline constexpr int MXCPEL = 39;
inline constexpr int IFCUTP = 40;
inline constexpr int IFNDCP = 41;
inline constexpr int IFMEM = 42;
inline constexpr int CACHE_SIZE = 43;
inline constexpr int CROSS = 44;
inline constexpr int MAXITER = 45;
inline constexpr int PUSH_CHOLESKY = 46;
inline constexpr int PRLEV = 47;
inline constexpr int ITCH = 48;
inline constexpr int NCPASS = 49;
inline constexpr int IFDBG = 50;
inline constexpr int NGXTRA = 51;
inline constexpr int INOINV = 52;
inline constexpr int NPROCS = 53;
inline constexpr int IFNBAS = 54;
inline constexpr int ITRHDG = 55;
inline constexpr int IFDUAL = 56;
inline constexpr int KSETBR = 57;
inline constexpr int OMNIMAT = 58;
inline constexpr int IFECHO = 59;
inline constexpr int NRCRLP = 60;
inline constexpr int VERNO = 61;
inline constexpr int M_T = 62;
// M_E is also the name of a mathematical constant macro of the C library.
inline constexpr int M_E_ = 63;
inline constexpr int M_P = 64;
inline constexpr int NRCRMX = 67;
inline constexpr int IFBIGM = 68;
inline constexpr int IFOLDS = 69;
inline constexpr int IFFTUP = 70;
inline constexpr int NAMLEN = 71;
inline constexpr int NCMPR = 72;
inline constexpr int IEFILL = 73;
inline constexpr int NPPASS = 74;
inline constexpr int NDPASS = 75;
inline constexpr int NRPASS = 76;
inline constexpr int IPSLCT = 77;
inline constexpr int IFINTP = 78;
inline constexpr int MAXSLV = 79;
inline constexpr int BORDER = 80;
inline constexpr int NBDUAL = 81;
inline constexpr int MAXNBF = 82;
inline constexpr int IQUIET = 83;
inline constexpr int IPETRB = 84;
inline constexpr int ISHFMX = 85;
inline constexpr int DENSECOL = 86;
inline constexpr int IDBDC = 87;
inline constexpr int LOCAL = 88;
inline constexpr int PRTCUT = 89;
inline constexpr int CUT1 = 90;
inline constexpr int CUT2 = 91;
inline constexpr int CUT3 = 92;
inline constexpr int CUT4 = 93;
inline constexpr int CUT5 = 94;
inline constexpr int DOCUTTOP = 95;
inline constexpr int DFTRND = 96;
inline constexpr int ISTRATTOP = 97;
inline constexpr int BSTRATTOP = 98;
inline constexpr int GSTRATTOP = 99;
inline constexpr int GOMMXVRTOP = 100;
inline constexpr int IFDELTOP = 101;
inline constexpr int IFHEURTOP = 102;
inline constexpr int NBPASSTOP = 103;
inline constexpr int ISTRATBC = 104;
inline constexpr int BSTRATBC = 105;
inline constexpr int GSTRATBC = 106;
inline constexpr int GOMMXVRBC = 107;
inline constexpr int IFDELBC = 108;
inline constexpr int IFHEURBC = 109;
inline constexpr int NBPASSBC = 110;
inline constexpr int DOCUTBC = 111;
inline constexpr int MXBBD = 112;
inline constexpr int PRCUTOFF = 113;
inline constexpr int BINDINGBC = 114;
inline constexpr int IFCUTOFF = 115;
inline constexpr int CUTFREQ = 116;
inline constexpr int DFTLVL = 117;
inline constexpr int IFPREP = 118;
inline constexpr int LDGLOB = 119;
inline constexpr int SSV001 = 120;
inline constexpr int SSV002 = 121;
inline constexpr int SSV003 = 122;
inline constexpr int SSV004 = 123;
inline constexpr int SSV005 = 124;
inline constexpr int SSV006 = 125;
inline constexpr int SSV007 = 126;
inline constexpr int SSV008 = 127;
inline constexpr int SSV009 = 128;
inline constexpr int SSV010 = 129;
inline constexpr int ITRACE = 130;
inline constexpr int NIIS = 131;
inline constexpr int M_Q = 132;
inline constexpr int CPUTIME = 133;
inline constexpr int NITCOV = 134;
inline constexpr int NITGOM = 135;
inline constexpr int MEMSIZ = 136;
inline constexpr int FREFMT = 137;
inline constexpr int CUTSTRAT = 138;
inline constexpr int CUTDEPTH = 139;
inline constexpr int NTRCOV = 140;
inline constexpr int NTRGOM = 141;
inline constexpr int ICSLCT = 142;
inline constexpr int ITSLCT = 143;
inline constexpr int MEMMAX = 144;
inline constexpr int IFDSE = 145;
inline constexpr int NSETMX = 146;
inline constexpr int IFFSTR = 147;
}  // namespace ic

namespace dc {
inline constexpr int ZTOLDA = 1;
inline constexpr int ZTOLPV = 2;
inline constexpr int ZTOLZE = 3;
inline constexpr int ZTOLPZ = 4;
inline constexpr int ZTOLST = 5;
inline constexpr int ZTCOST = 6;
inline constexpr int ZTETA = 7;
inline constexpr int ZTOLRP = 8;
inline constexpr int ZTOLIS = 9;
inline constexpr int PSEUDO = 10;
inline constexpr int OBJTAR = 11;
inline constexpr int ADDCUT = 12;
inline constexpr int CUTOFF = 13;
inline constexpr int PERCUT = 14;
inline constexpr int RTOLPS = 15;
inline constexpr int PENLTY = 16;
inline constexpr int PPFACT = 17;
inline constexpr int BIGM = 18;
inline constexpr int OPTCA = 19;
inline constexpr int OPTCR = 20;
inline constexpr int ZCOVER = 21;
inline constexpr int DSP001 = 22;
inline constexpr int DSP002 = 23;
inline constexpr int DSP003 = 24;
inline constexpr int DSP004 = 25;
inline constexpr int DSP005 = 26;
inline constexpr int ZSP001 = 27;
inline constexpr int ZSP002 = 28;
inline constexpr int ZSP003 = 29;
inline constexpr int FILLTRH = 30;
inline constexpr int TOLPIV = 31;
inline constexpr int TOLCOMP = 32;
inline constexpr int TOLDUAL = 33;
inline constexpr int TOLPRIMAL = 34;
inline constexpr int TOLIMP = 35;
inline constexpr int CTOLX = 36;
inline constexpr int CTOLZ = 37;
inline constexpr int CTOLACC = 38;
inline constexpr int CTOLAPIV = 39;
inline constexpr int CTOLRPIV = 40;
inline constexpr int ZTELIM = 41;
inline constexpr int PCRASH = 42;
inline constexpr int PETURB = 43;
inline constexpr int ZTSHFT = 44;
inline constexpr int ZPETRB = 45;
inline constexpr int ZTOLRI = 46;
inline constexpr int ZTOLMN = 47;
inline constexpr int ZTOLMX = 48;
inline constexpr int ZTSTEP = 49;
inline constexpr int ZTCR = 50;
inline constexpr int RDL2 = 51;
inline constexpr int RIL2 = 52;
inline constexpr int RIL3 = 53;
inline constexpr int ZTOLFT = 54;
inline constexpr int ZTOLDJ = 55;
inline constexpr int ZTOLIP = 56;
inline constexpr int ZTOLDB = 57;
inline constexpr int PSTCST = 58;
inline constexpr int CRITRN = 59;
inline constexpr int RSP001 = 60;
inline constexpr int RIU2 = 61;
inline constexpr int PHIMAX = 62;
inline constexpr int EXPAND = 63;
inline constexpr int SHRINK = 64;
inline constexpr int ZTOLRC = 65;
inline constexpr int RSP002 = 66;
inline constexpr int PIDENS = 67;
inline constexpr int RSP004 = 68;
inline constexpr int ZDJDBS = 69;
inline constexpr int RUIN = 70;
inline constexpr int RLIN = 71;
inline constexpr int RUFS = 72;
inline constexpr int RLFS = 73;
inline constexpr int RPSSV1 = 74;
inline constexpr int RPSSV2 = 75;
inline constexpr int RPSSV3 = 76;
inline constexpr int ZTOLZS = 77;
inline constexpr int ZTOLRF = 78;
inline constexpr int PVAL = 79;
inline constexpr int ZPCOST = 80;
inline constexpr int VALCUT = 81;
}  // namespace dc

namespace cc {
inline constexpr int RHSNAM = 1;
inline constexpr int OBJNAM = 2;
inline constexpr int RNGNAM = 3;
inline constexpr int BNDNAM = 4;
inline constexpr int ASCMSK = 5;
inline constexpr int DATNAM = 6;
inline constexpr int OBCNAM = 7;
inline constexpr int VERSION = 8;
}  // namespace cc

// The one map of the internal values kept in the double store after the
// controls: every subsystem that keeps a value there names its slot here,
// so two owners can never share a slot unnoticed (see kDoubleSlotMap).
namespace dslot {
inline constexpr int kObjval = 85;                 // attribute 2001
inline constexpr int kSuminf = 86;                 // attribute 2002
inline constexpr int kDintsl = 87;                 // attribute 2003
inline constexpr int kBestBound = 88;              // attribute 2004, the global search's best bound
inline constexpr int kObjectiveConstant = 89;      // attribute 2005, reset by a load
inline constexpr int kSecondObjectiveConstant = 90;
inline constexpr int kObjectiveScale = 91;         // power-of-two cost scale of the dual
inline constexpr int kSenseFactor = 92;            // attribute 2008
inline constexpr int kEnteringUpper = 93;
inline constexpr int kNonbasicObjective = 94;
inline constexpr int kEnteringWeight = 95;
inline constexpr int kEnteringReducedCost = 96;
inline constexpr int kPivotValue = 97;
inline constexpr int kStepLength = 101;
inline constexpr int kSuminfAtStart = 107;         // suminf when a primal engine was entered
inline constexpr int kDjCheckValue = 109;
inline constexpr int kDebugValue111 = 111;
inline constexpr int kBigmCeiling = 112;           // 5 x BIGM at the start of a primal run
inline constexpr int kPerturbationSize = 117;
inline constexpr int kEnteringObjectiveRate = 118;
inline constexpr int kFixedObjectiveConstant = 119;  // columns chgbds fixed under global entities
inline constexpr int kInvertPivotThreshold = 121;
inline constexpr int kRatioTolerance = 122;
inline constexpr int kCostShiftTotal = 123;
inline constexpr int kSuminfAtRemoval = 125;       // suminf at the last remove_rhs_shift
inline constexpr int kDualStep = 128;
inline constexpr int kDualBoundEstimate = 129;
inline constexpr int kPlusInfinity = 130;
inline constexpr int kMinusInfinity = 131;
inline constexpr int kPlusInfinity2 = 132;
}  // namespace dslot

inline constexpr int kDoubleSlotMap[] = {
    dslot::kObjval,           dslot::kSuminf,
    dslot::kDintsl,           dslot::kBestBound,
    dslot::kObjectiveConstant,
    dslot::kSecondObjectiveConstant, dslot::kObjectiveScale,
    dslot::kSenseFactor,      dslot::kEnteringUpper,
    dslot::kNonbasicObjective, dslot::kEnteringWeight,
    dslot::kEnteringReducedCost, dslot::kPivotValue,
    dslot::kStepLength,       dslot::kSuminfAtStart,
    dslot::kDjCheckValue,     dslot::kDebugValue111,
    dslot::kBigmCeiling,      dslot::kPerturbationSize,
    dslot::kEnteringObjectiveRate, dslot::kFixedObjectiveConstant,
    dslot::kInvertPivotThreshold, dslot::kRatioTolerance,
    dslot::kCostShiftTotal,   dslot::kSuminfAtRemoval,
    dslot::kDualStep,         dslot::kDualBoundEstimate,
    dslot::kPlusInfinity,     dslot::kMinusInfinity,
    dslot::kPlusInfinity2,
};

// Every slot lies after the controls, inside the store, and only once.
constexpr bool double_slots_are_distinct() {
  for (std::size_t i = 0; i < std::size(kDoubleSlotMap); ++i) {
    if (kDoubleSlotMap[i] <= kDoubleControlCount || kDoubleSlotMap[i] > kDoubleStoreSize) return false;
    for (std::size_t j = 0; j < i; ++j)
      if (kDoubleSlotMap[i] == kDoubleSlotMap[j]) return false;
  }
  return true;
}
static_assert(double_slots_are_distinct(), "two internal values share a double slot");

// The names the control code and the problem store use for some of them.
namespace dc {
inline constexpr int OBJVAL = dslot::kObjval;
inline constexpr int SUMINF = dslot::kSuminf;
inline constexpr int DINTSL = dslot::kDintsl;
inline constexpr int SENSE_FACTOR = dslot::kSenseFactor;
inline constexpr int PLUS_INFINITY = dslot::kPlusInfinity;
inline constexpr int MINUS_INFINITY = dslot::kMinusInfinity;
inline constexpr int PLUS_INFINITY_2 = dslot::kPlusInfinity2;
}  // namespace dc
inline constexpr int kObjectiveConstantSlot = dslot::kObjectiveConstant;
inline constexpr int kSecondObjectiveConstantSlot = dslot::kSecondObjectiveConstant;
inline constexpr int kObjectiveScaleSlot = dslot::kObjectiveScale;
inline constexpr int kFixedObjectiveConstantSlot = dslot::kFixedObjectiveConstant;

// Control values, indexed from 1 (index 0 unused). Zero before start-up.
extern int32_t integer_controls[kIntControlCount + 1];
extern double double_controls[kDoubleStoreSize + 1];
extern char character_controls[kCharControlCount + 1][8];  // blank padded, no terminator

// Set-flags: below 0 not settable, 0 not set since the last reset, above 0 set.
extern int32_t integer_set_flags[kIntControlCount + 1];
extern int32_t double_set_flags[kDoubleControlCount + 1];
extern int32_t character_set_flags[kCharControlCount + 1];

inline int32_t& icv(int n) { return integer_controls[n]; }
inline double& dcv(int n) { return double_controls[n]; }

struct IntControlInfo {
  const char* name;
  int32_t startup;
};
struct DoubleControlInfo {
  const char* name;
  double startup;
};
extern const IntControlInfo kIntControlInfo[kIntControlCount + 1];
extern const DoubleControlInfo kDoubleControlInfo[kDoubleControlCount + 1];
extern const char* const kCharControlNames[kCharControlCount + 1];

// Name lists in control order as used by the command loop: NUL-separated
// upper-case words, ended by an empty word; built at start-up.
struct ControlNameLists {
  const char* integer_names = nullptr;
  const char* double_names = nullptr;
  const char* character_names = nullptr;
};
extern ControlNameLists control_name_lists;

// Problem attributes. Integer attributes 1001..1031 live at index n - 1000;
// 3001..3005 at index n - 3000 of the barrier block. Double attributes
// 2001..2008 are double_controls[85..92]; 4001..4005 the barrier block.
inline constexpr int kIntAttributeCount = 31;
extern int32_t integer_attributes[kIntAttributeCount + 1];
extern int32_t barrier_int_attributes[6];
extern double barrier_double_attributes[6];
extern char character_attributes[6][8];  // 3001..3005, blank padded

// Start-up values of every control and set-flag, and the name lists.
void set_control_startup_values();
// Integer controls 82 and 88..119 and VALCUT at their start-up values.
void set_search_control_defaults();
// KLSETDEFAULT: start-up values for every control it resets (not the
// capacities, IFPMSG, the cut strategy controls, VALCUT or VERSION).
void set_control_defaults();

// Values a control may take (control_ranges.cpp). Each returns 0 when value
// suits control n, else the message that refuses it: 314 for a real that is
// not a finite number, 974 for a value outside the control's range, with
// allowed set to a description of the range.
int32_t check_int_control_value(int n, int32_t value, std::string& allowed);
int32_t check_double_control_value(int n, double value, std::string& allowed);
// Message n (314 or 974) with the setting as written ("NAME=value") and
// what the control allows. The caller decides the status word.
void emit_control_value_refusal(int32_t n, const std::string& setting, const std::string& allowed);

// Bodies of the control and attribute exports (the frame of the exports).
// seticv and setdcv refuse a value the control cannot take (message 314 or
// 974, status 32, error_value the control number) and leave it unchanged.
void geticv(int32_t n, int32_t* out);
void getdcv(int32_t n, double* out);
void getccv(int32_t n, char* out);
void seticv(int32_t n, int32_t value);
void setdcv(int32_t n, double value);
void setccv(int32_t n, const char* text);
void getipv(int32_t n, int32_t* out);
void getdpv(int32_t n, double* out);
void getcpv(int32_t n, char* out);

}  // namespace kl

#endif
