/* klsol32: a mathematical-programming optimiser library.
 *
 * Every export returns a status word (KL_STATUS_...), except where noted.
 * Indices cross the interface in the base set by the control IFDBG: 1 after
 * KLINITLZ, so callers count rows and columns from 0. */
#ifndef KLSOL32_H
#define KLSOL32_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(KLSOL32_BUILD)
#define KLAPI __attribute__((visibility("default")))
#else
#define KLAPI
#endif

/* Status words. */
enum {
  KL_STATUS_OK = 0,
  KL_STATUS_INVALID_DATA = 1,   /* invalid data in a load */
  KL_STATUS_FILE_ERROR = 2,     /* file input/output error */
  KL_STATUS_NO_MEMORY = 4,      /* no memory for the factorisation arrays */
  KL_STATUS_FATAL = 8,          /* start-up or message-file error; also: not initialised */
  KL_STATUS_HASH_FULL = 16,     /* a name hash table is full */
  KL_STATUS_REPORTED = 32       /* an error already reported by a message */
};

/* Kinds seen by the output callbacks: -1 end of call (no text, length 0),
 * 0 prompt or report text, 1 echoed command line, 1 and above the severity
 * of a message, 4 the built-in message-file failure lines. */
enum { KL_KIND_END_OF_CALL = -1, KL_KIND_TEXT = 0, KL_KIND_ECHO = 1, KL_KIND_FAILURE = 4 };

/* A length-prefixed wide string: the 32-bit byte length is stored just
 * before the first character; the characters are followed by a 0. Valid for
 * the duration of the callback only. */
typedef const uint16_t* KLWideString;

/* User entries. */
typedef void (*KLOutputEntry)(const char* text, int32_t length, int32_t kind);
typedef void (*KLWideOutputEntry)(KLWideString text, int32_t length, int32_t kind);
typedef void (*KLConsoleEntry)(char* line, int32_t* length);
typedef int32_t (*KLStopEntry)(void);
typedef void (*KLNodeCellEntry)(int32_t* cell);
typedef void (*KLNodeValueEntry)(int32_t node);
typedef void (*KLBranchEntityEntry)(int32_t* entity, int32_t* direction, double* estimate);
typedef void (*KLBranchObjectEntry)(int32_t* object, int32_t* priority, double* first_estimate,
                                    double* second_estimate, double* value, int32_t* direction,
                                    int32_t* extra_count, double* extra_degradation, int32_t* branch_count);
typedef void (*KLBranchSetupEntry)(int32_t branch, int32_t object, int32_t branch_again, double value);
typedef int32_t (*KLCutManagerEntry)(void);
typedef void (*KLCutNotifyEntry)(void);

/* Integer control numbers (KLGETICV, KLSETICV). */
enum {
  KLIC_M_R = 1,
  KLIC_M_C = 2,
  KLIC_M_M = 3,
  KLIC_NRXTRA = 4,
  KLIC_NCXTRA = 5,
  KLIC_NMXTRA = 6,
  KLIC_ITRLIM = 7,
  KLIC_IFMSG = 8,
  KLIC_ITRLOG = 9,
  KLIC_IFSCAL = 10,
  KLIC_IFPRES = 11,
  KLIC_ICRASH = 12,
  KLIC_IPHSF = 13,
  KLIC_INVFRQ = 14,
  KLIC_INVMIN = 15,
  KLIC_NGEMAX = 16,
  KLIC_INTMAX = 17,
  KLIC_MAXNOD = 18,
  KLIC_MXANOD = 19,
  KLIC_MAXTIM = 20,
  KLIC_MAXSOL = 21,
  KLIC_IPKEEP = 22,
  KLIC_IALG = 23,
  KLIC_IPACTN = 24,
  KLIC_KCRITM = 25,
  KLIC_NDSEL1 = 26,
  KLIC_NDSEL2 = 27,
  KLIC_GPRINT = 28,
  KLIC_IGNORE = 29,
  KLIC_IFNRW = 30,
  KLIC_LENDBL = 31,
  KLIC_PRNLVL = 32,
  KLIC_IFBSNM = 33,
  KLIC_NLINES = 34,
  KLIC_IFPMSG = 35,
  KLIC_M_S = 36,
  KLIC_NEXTRA = 37,
  KLIC_MXCPOL = 38,
  KLIC_MXCPEL = 39,
  KLIC_IFCUTP = 40,
  KLIC_IFNDCP = 41,
  KLIC_IFMEM = 42,
  KLIC_CACHE_SIZE = 43,
  KLIC_CROSS = 44,
  KLIC_MAXITER = 45,
  KLIC_PUSH_CHOLESKY = 46,
  KLIC_PRLEV = 47,
  KLIC_ITCH = 48,
  KLIC_NCPASS = 49,
  KLIC_IFDBG = 50,
  KLIC_NGXTRA = 51,
  KLIC_INOINV = 52,
  KLIC_NPROCS = 53,
  KLIC_IFNBAS = 54,
  KLIC_ITRHDG = 55,
  KLIC_IFDUAL = 56,
  KLIC_KSETBR = 57,
  KLIC_OMNIMAT = 58,
  KLIC_IFECHO = 59,
  KLIC_NRCRLP = 60,
  KLIC_VERNO = 61,
  KLIC_M_T = 62,
  KLIC_M_E = 63,
  KLIC_M_P = 64,
  KLIC_NRCRMX = 67,
  KLIC_IFBIGM = 68,
  KLIC_IFOLDS = 69,
  KLIC_IFFTUP = 70,
  KLIC_NAMLEN = 71,
  KLIC_NCMPR = 72,
  KLIC_IEFILL = 73,
  KLIC_NPPASS = 74,
  KLIC_NDPASS = 75,
  KLIC_NRPASS = 76,
  KLIC_IPSLCT = 77,
  KLIC_IFINTP = 78,
  KLIC_MAXSLV = 79,
  KLIC_BORDER = 80,
  KLIC_NBDUAL = 81,
  KLIC_MAXNBF = 82,
  KLIC_IQUIET = 83,
  KLIC_IPETRB = 84,
  KLIC_ISHFMX = 85,
  KLIC_DENSECOL = 86,
  KLIC_IDBDC = 87,
  KLIC_LOCAL = 88,
  KLIC_PRTCUT = 89,
  KLIC_CUT1 = 90,
  KLIC_CUT2 = 91,
  KLIC_CUT3 = 92,
  KLIC_CUT4 = 93,
  KLIC_CUT5 = 94,
  KLIC_DOCUTTOP = 95,
  KLIC_DFTRND = 96,
  KLIC_ISTRATTOP = 97,
  KLIC_BSTRATTOP = 98,
  KLIC_GSTRATTOP = 99,
  KLIC_GOMMXVRTOP = 100,
  KLIC_IFDELTOP = 101,
  KLIC_IFHEURTOP = 102,
  KLIC_NBPASSTOP = 103,
  KLIC_ISTRATBC = 104,
  KLIC_BSTRATBC = 105,
  KLIC_GSTRATBC = 106,
  KLIC_GOMMXVRBC = 107,
  KLIC_IFDELBC = 108,
  KLIC_IFHEURBC = 109,
  KLIC_NBPASSBC = 110,
  KLIC_DOCUTBC = 111,
  KLIC_MXBBD = 112,
  KLIC_PRCUTOFF = 113,
  KLIC_BINDINGBC = 114,
  KLIC_IFCUTOFF = 115,
  KLIC_CUTFREQ = 116,
  KLIC_DFTLVL = 117,
  KLIC_IFPREP = 118,
  KLIC_LDGLOB = 119,
  KLIC_SSV001 = 120,
  KLIC_SSV002 = 121,
  KLIC_SSV003 = 122,
  KLIC_SSV004 = 123,
  KLIC_SSV005 = 124,
  KLIC_SSV006 = 125,
  KLIC_SSV007 = 126,
  KLIC_SSV008 = 127,
  KLIC_SSV009 = 128,
  KLIC_SSV010 = 129,
  KLIC_ITRACE = 130,
  KLIC_NIIS = 131,
  KLIC_M_Q = 132,
  KLIC_CPUTIME = 133,
  KLIC_NITCOV = 134,
  KLIC_NITGOM = 135,
  KLIC_MEMSIZ = 136,
  KLIC_FREFMT = 137,
  KLIC_CUTSTRAT = 138,
  KLIC_CUTDEPTH = 139,
  KLIC_NTRCOV = 140,
  KLIC_NTRGOM = 141,
  KLIC_ICSLCT = 142,
  KLIC_ITSLCT = 143,
  KLIC_MEMMAX = 144,
  KLIC_IFDSE = 145,
  KLIC_NSETMX = 146,
  KLIC_IFFSTR = 147,
};

/* Double control numbers (KLGETDCV, KLSETDCV). */
enum {
  KLDC_ZTOLDA = 1,
  KLDC_ZTOLPV = 2,
  KLDC_ZTOLZE = 3,
  KLDC_ZTOLPZ = 4,
  KLDC_ZTOLST = 5,
  KLDC_ZTCOST = 6,
  KLDC_ZTETA = 7,
  KLDC_ZTOLRP = 8,
  KLDC_ZTOLIS = 9,
  KLDC_PSEUDO = 10,
  KLDC_OBJTAR = 11,
  KLDC_ADDCUT = 12,
  KLDC_CUTOFF = 13,
  KLDC_PERCUT = 14,
  KLDC_RTOLPS = 15,
  KLDC_PENLTY = 16,
  KLDC_PPFACT = 17,
  KLDC_BIGM = 18,
  KLDC_OPTCA = 19,
  KLDC_OPTCR = 20,
  KLDC_ZCOVER = 21,
  KLDC_DSP001 = 22,
  KLDC_DSP002 = 23,
  KLDC_DSP003 = 24,
  KLDC_DSP004 = 25,
  KLDC_DSP005 = 26,
  KLDC_ZSP001 = 27,
  KLDC_ZSP002 = 28,
  KLDC_ZSP003 = 29,
  KLDC_FILLTRH = 30,
  KLDC_TOLPIV = 31,
  KLDC_TOLCOMP = 32,
  KLDC_TOLDUAL = 33,
  KLDC_TOLPRIMAL = 34,
  KLDC_TOLIMP = 35,
  KLDC_CTOLX = 36,
  KLDC_CTOLZ = 37,
  KLDC_CTOLACC = 38,
  KLDC_CTOLAPIV = 39,
  KLDC_CTOLRPIV = 40,
  KLDC_ZTELIM = 41,
  KLDC_PCRASH = 42,
  KLDC_PETURB = 43,
  KLDC_ZTSHFT = 44,
  KLDC_ZPETRB = 45,
  KLDC_ZTOLRI = 46,
  KLDC_ZTOLMN = 47,
  KLDC_ZTOLMX = 48,
  KLDC_ZTSTEP = 49,
  KLDC_ZTCR = 50,
  KLDC_RDL2 = 51,
  KLDC_RIL2 = 52,
  KLDC_RIL3 = 53,
  KLDC_ZTOLFT = 54,
  KLDC_ZTOLDJ = 55,
  KLDC_ZTOLIP = 56,
  KLDC_ZTOLDB = 57,
  KLDC_PSTCST = 58,
  KLDC_CRITRN = 59,
  KLDC_RSP001 = 60,
  KLDC_RIU2 = 61,
  KLDC_PHIMAX = 62,
  KLDC_EXPAND = 63,
  KLDC_SHRINK = 64,
  KLDC_ZTOLRC = 65,
  KLDC_RSP002 = 66,
  KLDC_PIDENS = 67,
  KLDC_RSP004 = 68,
  KLDC_ZDJDBS = 69,
  KLDC_RUIN = 70,
  KLDC_RLIN = 71,
  KLDC_RUFS = 72,
  KLDC_RLFS = 73,
  KLDC_RPSSV1 = 74,
  KLDC_RPSSV2 = 75,
  KLDC_RPSSV3 = 76,
  KLDC_ZTOLZS = 77,
  KLDC_ZTOLRF = 78,
  KLDC_PVAL = 79,
  KLDC_ZPCOST = 80,
  KLDC_VALCUT = 81,
};

/* Character control numbers (KLGETCCV, KLSETCCV). */
enum {
  KLCC_RHSNAM = 1,
  KLCC_OBJNAM = 2,
  KLCC_RNGNAM = 3,
  KLCC_BNDNAM = 4,
  KLCC_ASCMSK = 5,
  KLCC_DATNAM = 6,
  KLCC_OBCNAM = 7,
  KLCC_VERSION = 8,
};

/* Integer problem attributes (KLGETIPV). */
enum {
  KLIA_NROW = 1001, KLIA_NSEQ = 1002, KLIA_NGLENT = 1003, KLIA_NSETS = 1004, KLIA_NSOSM = 1005,
  KLIA_NELEM = 1006, KLIA_NINF = 1007, KLIA_NNEGDJ = 1008, KLIA_ITCNT = 1009, KLIA_LPSTATUS = 1010,
  KLIA_GLSTATUS = 1011, KLIA_NCUTS = 1012, KLIA_NODES = 1013, KLIA_NODEDEPTH = 1014, KLIA_ACTIVENODES = 1015,
  KLIA_LASTSOLNODE = 1016, KLIA_NSOLS = 1017, KLIA_NCOLS = 1018,
  KLIA_SPAREROWS = 1019, KLIA_SPARECOLS = 1020, KLIA_SPAREELEMS = 1021, KLIA_SPAREENTITIES = 1022,
  KLIA_ERRORCODE = 1023, KLIA_STATUS = 1025, KLIA_PROBLEMFLAGS = 1026, KLIA_NAMEWORDS = 1028,
  KLIA_NQELEM = 1030,
  KLIA_BARITER = 3001, KLIA_BARFACTORNZ = 3003, KLIA_BARDENSECOLS = 3004, KLIA_BARCROSSOVER = 3005
};
/* Double problem attributes (KLGETDPV). */
enum {
  KLDA_OBJVAL = 2001, KLDA_SUMINF = 2002, KLDA_DINTSL = 2003, KLDA_BESTBOUND = 2004, KLDA_SENSE = 2008,
  KLDA_BARPRIMALOBJ = 4001, KLDA_BARDUALOBJ = 4002, KLDA_BARPRIMALINF = 4003,
  KLDA_BARDUALINF = 4004, KLDA_BARCOMPLEMENTARITY = 4005
};
/* Character problem attributes (KLGETCPV). */
enum {
  KLCA_MATRIXNAME = 3001, KLCA_BOUNDNAME = 3002, KLCA_OTHERNAME = 3003, KLCA_RHSNAME = 3004,
  KLCA_RANGENAME = 3005
};

/* Life cycle. KLFREEXO and KLSETOPTLOG return 0. */
KLAPI int32_t KLINITLZ(const char* directory, const char* unused);
KLAPI int32_t KLFREEXO(void);
KLAPI int32_t KLSETOPTLOG(const char* name);

/* Controls and attributes. KLGETCCV and KLGETCPV write at most 9 bytes.
 * KLSETDEFAULT returns 0. */
KLAPI int32_t KLGETICV(int32_t control, int32_t* value);
KLAPI int32_t KLGETDCV(int32_t control, double* value);
KLAPI int32_t KLGETCCV(int32_t control, char* value);
KLAPI int32_t KLSETICV(int32_t control, int32_t value);
KLAPI int32_t KLSETDCV(int32_t control, double value);
KLAPI int32_t KLSETCCV(int32_t control, const char* value);
KLAPI int32_t KLGETIPV(int32_t attribute, int32_t* value);
KLAPI int32_t KLGETDPV(int32_t attribute, double* value);
KLAPI int32_t KLGETCPV(int32_t attribute, char* value);
KLAPI int32_t KLSETDEFAULT(void);

/* User entries: a null pointer removes the entry. Each returns 0. */
KLAPI int32_t KLDEFINEUOPENTRY(KLOutputEntry f);
KLAPI int32_t KLDEFINEUOPVBENTRY(KLWideOutputEntry f);
KLAPI int32_t KLDEFINEILENTRY(KLStopEntry f);
KLAPI int32_t KLDEFINEGLENTRY(KLStopEntry f);
KLAPI int32_t KLDEFINEBLENTRY(KLStopEntry f);
KLAPI int32_t KLDEFINEUSNENTRY(KLNodeCellEntry f);
KLAPI int32_t KLDEFINEUCNENTRY(KLNodeValueEntry f);
KLAPI int32_t KLDEFINEUPNENTRY(KLNodeCellEntry f);
KLAPI int32_t KLDEFINEUONENTRY(KLNodeCellEntry f);
KLAPI int32_t KLDEFINEUINENTRY(KLStopEntry f);
KLAPI int32_t KLDEFINEUISENTRY(KLStopEntry f);
KLAPI int32_t KLDEFINEUCBENTRY(KLBranchEntityEntry f);
KLAPI int32_t KLDEFINEUBEENTRY(KLBranchObjectEntry f);
KLAPI int32_t KLDEFINEUSEENTRY(KLBranchSetupEntry f);
KLAPI int32_t KLDEFINECMIENTRY(KLCutNotifyEntry f);
KLAPI int32_t KLDEFINECMENTRY(KLCutManagerEntry f);
KLAPI int32_t KLDEFINETCMENTRY(KLCutManagerEntry f);
KLAPI int32_t KLDEFINECMSENTRY(KLCutNotifyEntry f);

/* The console: reads command lines from kl-run.ini, then from the console
 * entry (standard input with a ">" prompt when it is null), and runs them
 * until QUIT, STOP, a fatal status or the end of console input. Returns the
 * exit code: 0 after QUIT, the STOP code, 16 at the end of input, else the
 * status word; 100 is added to it when an ASSERT failed during the call, so
 * a script can test its results by the exit code. The entry is called with
 * *length holding the room of line; it stores one line (no line feed) and
 * sets *length to its count. For a
 * longer line it stores nothing, sets *length to the count needed and is
 * called again for the same line with that much room. *length below 0
 * means the end of input. At a page break of a report on the screen the
 * entry is called with *length 0: 0 on return goes on, anything else stops
 * the report. */
KLAPI int32_t KLCONTROL(KLConsoleEntry console);

/* Problem name: the stem of every file named for the current problem.
 * KLGETPROB's buffer must hold 512 characters. */
KLAPI int32_t KLSETPROB(const char* name);
/* Reads the problem file named by name (an explicit extension, or the stem
 * with "mat", "mps", "qps" tried in turn). */
KLAPI int32_t KLINPUT(const char* name);
KLAPI int32_t KLGETPROB(char* name);

/* Writes the current problem as an MPS file (extension mat) or, with option
 * letter l, as an LP-format file (extension lp), named after name, or after
 * the problem when name is null or empty. Option letters: o one pair per
 * line; p numbers that read back exactly; c leave out fixed columns and
 * free rows; n the stored (scaled) values; s generated names; b the bounds
 * of the global search while one runs. */
KLAPI int32_t KLOUTPUT(const char* name, const char* options);

/* Solution reports, read back from the problem's solution file. KLTOASC
 * writes it as comma-separated text files (extensions hdr and asc) named
 * after name, or after the problem when name is null or empty; option
 * letters choose the fields. KLFPRINT prints it into the print file
 * (extension prt). */
KLAPI int32_t KLTOASC(const char* name, const char* options);
KLAPI int32_t KLFPRINT(void);
/* Ranging reports, read back from the range file (extension rng) of the last
 * KLRANGE. KLRTOASC writes it as comma-separated text files (extensions hdr
 * and rsc) named as for KLTOASC; KLFRPRINT prints it into the file with the
 * extension rrt. */
KLAPI int32_t KLRTOASC(const char* name, const char* options);
KLAPI int32_t KLFRPRINT(void);
/* The solution collection: appends the current solution, read back from the
 * solution file, and with OMNIMAT bits 0-1 the matrix, to the binary file
 * SOLFILE in the current directory. OMNIMAT bit 4 chooses the current layout
 * (4096-byte records of doubles); without it the older layout (512-byte
 * records of singles) is written, which refuses problems of more than 32767
 * rows when the matrix is asked for. */
KLAPI int32_t KLOMNIOUT(void);

/* Loading a problem from arrays. Column c holds the elements start[c] ..
 * start[c+1]-1, or start[c] .. start[c]+length[c]-1 when lengths are given
 * (lengths may be null). Row types: E, G, L, N, R (ranges read for R rows).
 * Entity letters: I, S, B, P, R; set types "1", "2". */
KLAPI int32_t KLLOADPROB(const char* name, int32_t ncols, int32_t nrows, const char* row_types, const double* rhs,
                         const double* ranges, const double* objective, const int32_t* starts,
                         const int32_t* lengths, const int32_t* rows, const double* values, const double* lower,
                         const double* upper);
KLAPI int32_t KLLOADQPROB(const char* name, int32_t ncols, int32_t nrows, const char* row_types, const double* rhs,
                          const double* ranges, const double* objective, const int32_t* starts,
                          const int32_t* lengths, const int32_t* rows, const double* values, const double* lower,
                          const double* upper, int32_t nquad, const int32_t* quad_col1, const int32_t* quad_col2,
                          const double* quad_values);
KLAPI int32_t KLLOADGLOBAL(const char* name, int32_t ncols, int32_t nrows, const char* row_types, const double* rhs,
                           const double* ranges, const double* objective, const int32_t* starts,
                           const int32_t* lengths, const int32_t* rows, const double* values, const double* lower,
                           const double* upper, int32_t nentities, int32_t nsets, const char* entity_types,
                           const int32_t* entity_columns, const double* entity_limits, const char* set_types,
                           const int32_t* set_starts, const int32_t* set_columns, const double* set_refs);
KLAPI int32_t KLLOADQGLOBAL(const char* name, int32_t ncols, int32_t nrows, const char* row_types,
                            const double* rhs, const double* ranges, const double* objective,
                            const int32_t* starts, const int32_t* lengths, const int32_t* rows,
                            const double* values, const double* lower, const double* upper, int32_t nquad,
                            const int32_t* quad_col1, const int32_t* quad_col2, const double* quad_values,
                            int32_t nentities, int32_t nsets, const char* entity_types,
                            const int32_t* entity_columns, const double* entity_limits, const char* set_types,
                            const int32_t* set_starts, const int32_t* set_columns, const double* set_refs);

/* Adding and deleting rows and columns of the loaded problem. The entries of
 * new column (row) k are starts[k] .. starts[k+1]-1 of the index and value
 * arrays, those of the last one run to starts[0]+nelems-1. Row types: E, G,
 * L, N, R (R rows take their range from ranges). KLADDNAMES names rows
 * (type 1) or columns first..last from NUL-ended names that follow one
 * another. Deleted indices count in the numbering before the call. */
KLAPI int32_t KLADDROWS(int32_t nrows, int32_t nelems, const char* row_types, const double* rhs,
                        const double* ranges, const int32_t* starts, const int32_t* cols, const double* values);
// Rows written in the original columns, added to a presolved problem (as
// KLADDROWS when the problem is not presolved). Returns a result code, not
// the status word: 0 added, 1 a column was removed in a way a new row cannot
// carry, 2 no entries left and the right-hand side violated, 3 no working
// memory, 4 no entries left (not added), 5 added with a tiny entry. A call
// the status word ends (bad input, no room for a row) returns that non-zero
// status word instead. codes, when not null, receives the code of each row
// processed.
KLAPI int32_t KLADDROWS_PRE(int32_t nrows, int32_t nelems, const char* row_types, const double* rhs,
                            const double* ranges, const int32_t* starts, const int32_t* cols, const double* values,
                            int32_t* codes);
KLAPI int32_t KLADDCOLS(int32_t ncols, int32_t nelems, const double* objective, const int32_t* starts,
                        const int32_t* rows, const double* values, const double* lower, const double* upper);
KLAPI int32_t KLADDNAMES(int32_t type, const char* names, int32_t first, int32_t last);
KLAPI int32_t KLDELROWS(int32_t nrows, const int32_t* rows);
KLAPI int32_t KLDELCOLS(int32_t ncols, const int32_t* cols);

/* Changing the loaded problem. Bound letters U, L, B; row types E, G, L, N,
 * R; column types I, B, C. KLCHGOBJ with column -1 sets the objective
 * constant. A coefficient or quadratic value of 0 removes the entry; a pair
 * given twice in one call takes its last value. Every item is checked before
 * anything changes. */
KLAPI int32_t KLCHGBDS(int32_t count, const int32_t* cols, const char* letters, const double* values);
KLAPI int32_t KLCHGCOF(int32_t row, int32_t col, double value);
KLAPI int32_t KLCHGMCOF(const int32_t* rows, const int32_t* cols, const double* values, int32_t count);
KLAPI int32_t KLCHGOBJ(int32_t count, const int32_t* cols, const double* values);
KLAPI int32_t KLCHGQOBJ(int32_t col1, int32_t col2, double value);
KLAPI int32_t KLCHGMQOBJ(const int32_t* cols1, const int32_t* cols2, const double* values, int32_t count);
KLAPI int32_t KLCHGRHS(int32_t count, const int32_t* rows, const double* values);
KLAPI int32_t KLCHGRNG(int32_t count, const int32_t* rows, const double* values);
KLAPI int32_t KLCHGROWTYPE(int32_t count, const int32_t* rows, const char* types);
KLAPI int32_t KLCHGCOLTYPE(int32_t count, const int32_t* cols, const char* types);

/* Problem slots (1..64). KLSAVMAT puts the problem aside and continues with
 * an empty one; *slot receives where it rests. KLRESMAT makes a saved problem
 * current again. KLCPYMAT continues with a copy named name; *slot receives
 * the slot of the original. KLDELMAT frees a slot other than the current. */
KLAPI int32_t KLSAVMAT(int32_t* slot);
KLAPI int32_t KLRESMAT(int32_t slot);
KLAPI int32_t KLCPYMAT(const char* name, int32_t* slot);
KLAPI int32_t KLDELMAT(int32_t slot);

/* Save file: KLSAVE writes the whole state of the current problem (presolved
 * and global-search states included) to <problem>.svf; KLRESTORE reads it
 * back in place of the current problem. A file that is not a save file of
 * this version, or is short or damaged, is refused with the current problem
 * left as it was. */
KLAPI int32_t KLSAVE(void);
KLAPI int32_t KLRESTORE(void);

/* Queries: first and last are caller indices; the output receives
 * last - first + 1 values. The I variants return the stored (scaled) form. */
KLAPI int32_t KLGETOBJ(double* values, int32_t first, int32_t last);
KLAPI int32_t KLGETRHS(double* values, int32_t first, int32_t last);
KLAPI int32_t KLGETRNG(double* values, int32_t first, int32_t last);
KLAPI int32_t KLGETBDL(double* values, int32_t first, int32_t last);
KLAPI int32_t KLGETBDU(double* values, int32_t first, int32_t last);
KLAPI int32_t KLIGETOBJ(double* values, int32_t first, int32_t last);
KLAPI int32_t KLIGETRHS(double* values, int32_t first, int32_t last);
KLAPI int32_t KLIGETRNG(double* values, int32_t first, int32_t last);
KLAPI int32_t KLIGETBDL(double* values, int32_t first, int32_t last);
KLAPI int32_t KLIGETBDU(double* values, int32_t first, int32_t last);
KLAPI int32_t KLGETCOLS(int32_t* starts, int32_t* rows, double* values, int32_t size, int32_t* count, int32_t first,
                        int32_t last);
KLAPI int32_t KLIGETCOLS(int32_t* starts, int32_t* rows, double* values, int32_t size, int32_t* count,
                         int32_t first, int32_t last);
KLAPI int32_t KLGETROWS(int32_t* starts, int32_t* cols, double* values, int32_t size, int32_t* count, int32_t first,
                        int32_t last);
KLAPI int32_t KLIGETROWS(int32_t* starts, int32_t* cols, double* values, int32_t size, int32_t* count,
                         int32_t first, int32_t last);
KLAPI int32_t KLGETROWTYPE(char* types, int32_t first, int32_t last);
KLAPI int32_t KLGETCOLTYPE(char* types, int32_t first, int32_t last);
KLAPI int32_t KLGETNAMES(int32_t type, char* names, int32_t first, int32_t last);
KLAPI int32_t KLGETINDEX(int32_t type, const char* name, int32_t* index);
KLAPI int32_t KLGETQOBJ(int32_t col1, int32_t col2, double* value);
KLAPI int32_t KLGETGLOBAL(int32_t* nentities, int32_t* nsets, char* entity_types, int32_t* entity_columns,
                          double* entity_limits, char* set_types, int32_t* set_starts, int32_t* set_columns,
                          double* set_refs);
/* Returns 0. */
KLAPI int32_t KLGETMAP(int32_t* positions);
KLAPI int32_t KLGETRCLASS(int32_t* classes);
KLAPI int32_t KLSETPFLAG(int32_t nrows, int32_t ncols, const int32_t* rows, const int32_t* cols);

/* Scaling: power-of-two exponents per row and per column; both null
 * computes fresh factors. */
KLAPI int32_t KLSCALE(const int32_t* row_exponents, const int32_t* col_exponents);

/* Solves with the factor of the current basis, in place on nrow values:
 * FTRAN takes a vector by row and returns B^-1 v by basis position, BTRAN
 * takes one by basis position and returns B^-T v by row. The I variants work
 * on the stored, scaled problem. */
KLAPI int32_t KLFTRAN(double* vector);
KLAPI int32_t KLIFTRAN(double* vector);
KLAPI int32_t KLBTRAN(double* vector);
KLAPI int32_t KLIBTRAN(double* vector);

/* Optimisation of the loaded problem. The option letters: b, d, p force the
 * barrier, the dual or the primal for this call; g runs the global search
 * after the LP; l solves the LP only; r runs successive linear programming
 * after it. The result is the status word; the LP outcome is problem
 * attribute 1010 (1 optimal, 2 infeasible, 4 unfinished, 5 unbounded, 6 cut
 * off). */
KLAPI int32_t KLMINIM(const char* options);
KLAPI int32_t KLMAXIM(const char* options);
/* The global search (branch and bound over the global entities) after an
 * optimal LP relaxation, or the continuation of a search that stopped early
 * (node or solution limit, stop request). Integer attribute 1011 then holds
 * 3 or 4 while the search is under way (without or with an integer
 * solution), 5 finished without one, 6 finished with one; 1013 the nodes
 * solved, 1017 the integer solutions; double attributes 2003 the best
 * integer solution's objective and 2004 the best bound. */
KLAPI int32_t KLGLOBAL(void);
/* Ends a stopped search and puts the problem back as it was before it. */
KLAPI int32_t KLINIGLOBAL(void);
/* Removes active node `node` (as numbered by the search, no index base)
 * from a search under way: mode 1 the node, any other mode its first child
 * only. Error 432 when there is no search or no such node. */
KLAPI int32_t KLDELNODE(int32_t node, int32_t mode);
/* The cut generators one at a time, typically from the cut-manager
 * callbacks; they need a current optimal LP solution. Pool numbers count
 * records from 1 whatever IFDBG. KLGENKNPCUT (lifted cover and other row
 * cuts under the selection word), KLGENGOMCUT (Gomory) and KLGENCLQCUT
 * (clique) make one separation pass, store each new cut with the given
 * type and list its pool number once while the list has room; count is the
 * numbers listed; nothing enters the LP. KLLOADBESTCUT loads the most
 * violated of the listed cuts (mode 1 also the cuts just generated, mode 2
 * also those of the top node) and re-solves; delete_level 1 first drops
 * the non-binding cut rows, 2 also after the re-solve. KLSEPCUT separates
 * sum a_j x_j <= b + s, 0 <= x_j <= u_j, s >= 0, for the caller's own
 * data: type 1 an MIR cut sum c_j x_j - f s <= rhs (continuous out: f),
 * other types a lifted cover cut sum c_j x_j <= rhs + g s (out: g); result
 * 1 cut, 0 none, -1 more than 30000 items, -2 a negative weight.
 * KLGOMORY and KLLIFTCOVERS run the Gomory or the row-based cut round:
 * mode 1 one pass storing cuts of the given type (count: cuts stored);
 * other modes a round as at the current node, loading the cuts and
 * re-solving (count: cuts found). */
KLAPI int32_t KLGOMORY(int32_t mode, int32_t type, int32_t* count);
KLAPI int32_t KLLIFTCOVERS(int32_t mode, int32_t type, int32_t* count);
KLAPI int32_t KLGENKNPCUT(int32_t selection, int32_t max_aggregation, int32_t type, int32_t capacity,
                          int32_t* count, int32_t* list);
KLAPI int32_t KLGENGOMCUT(int32_t type, int32_t capacity, int32_t* count, int32_t* list);
KLAPI int32_t KLGENCLQCUT(int32_t type, int32_t capacity, int32_t* count, int32_t* list);
KLAPI int32_t KLLOADBESTCUT(int32_t mode, int32_t delete_level, int32_t count, const int32_t* list,
                            int32_t* violated, int32_t* loaded, int32_t* deleted);
KLAPI int32_t KLSEPCUT(int32_t type, int32_t n, const double* weights, const double* ranges, const double* values,
                       double capacity, double slack, int32_t* result, double* coefficients, double* rhs,
                       double* continuous);
/* Successive linear programming from an optimal solution: the typed entries
 * of the problem file rewrite the matrix from the solution, pass after pass,
 * until the solution stops moving or NRCRLP passes are done. Integer
 * attribute 1029 then holds 0 (converged), the number of convergence columns
 * still moving at the pass limit, or -1 (limit reached, none moving). */
KLAPI int32_t KLRECURSE(void);
/* After an unbounded LP, the column along which the objective improves
 * without limit (after the dual, an infeasible row); -1 when none. */
KLAPI int32_t KLGETUNB(int32_t* index);

/* The solution, the basis and hand pivots. Between optimisations the plain
 * forms read the problem's solution file; IFMEM bit 0x10 (and, inside
 * KLMINIM/KLMAXIM, bit 8) makes them answer from memory. Any of the four
 * solution arrays may be null: x per column, slack per row (a_i x + s_i =
 * b_i), dual per row (d objective / d b_i), reduced cost per column
 * (c_j - y'a_j). Basis codes: 0 at lower bound, 1 basic, 2 at upper bound.
 * KLGETINF lists the rows and columns outside their bounds and those whose
 * reduced cost has the wrong sign; KLGETIIS the members of the last
 * irreducible infeasible set. KLPIVOT, KLGETPIVOTS and KLGETBASICPIV count
 * positions: the rows' slacks first, then the columns (after the spare
 * rows), in the base of IFDBG. */
KLAPI int32_t KLSOLUTION(double* x, double* slack, double* dual, double* reduced_cost);
KLAPI int32_t KLGETBASIS(int32_t* row_status, int32_t* col_status);
KLAPI int32_t KLIGETBASIS(int32_t* row_status, int32_t* col_status);
KLAPI int32_t KLLOADBASIS(const int32_t* row_status, const int32_t* col_status);
KLAPI int32_t KLILOADBASIS(const int32_t* row_status, const int32_t* col_status);
KLAPI int32_t KLGETINF(int32_t* primal_rows, int32_t* primal_cols, int32_t* dual_rows, int32_t* dual_cols,
                       int32_t* primal_row_list, int32_t* primal_col_list, int32_t* dual_row_list,
                       int32_t* dual_col_list);
KLAPI int32_t KLIGETINF(int32_t* primal_rows, int32_t* primal_cols, int32_t* dual_rows, int32_t* dual_cols,
                        int32_t* primal_row_list, int32_t* primal_col_list, int32_t* dual_row_list,
                        int32_t* dual_col_list);
KLAPI int32_t KLGETIIS(int32_t* ncols, int32_t* nrows, int32_t* cols, int32_t* rows);
/* Ranging of an optimal basis into the range file, and its ranges per row
 * and per column; any array may be null. */
KLAPI int32_t KLRANGE(void);
KLAPI int32_t KLROWRANGE(double* upper_activity, double* lower_activity, double* upper_unit_cost,
                         double* lower_unit_cost);
KLAPI int32_t KLCOLRANGE(double* upper_activity, double* lower_activity, double* upper_unit_cost,
                         double* lower_unit_cost, double* upper_cost, double* lower_cost);
/* Irreducible infeasible sets of an infeasible LP; options "o" and "f". */
KLAPI int32_t KLIIS(const char* options);
/* Goal programming over the answers of the goal file NAME.gol (name, when
 * given, becomes the problem name); options "f" (report file NAME.grp),
 * "o" (optimiser output shown) and "l" (LP relaxations only). Either
 * argument may be null or empty. */
KLAPI int32_t KLGOAL(const char* name, const char* options);
KLAPI int32_t KLPIVOT(int32_t entering, int32_t leaving);
KLAPI int32_t KLGETPIVOTS(int32_t entering, int32_t* list, double* solution, double* objective, int32_t* count,
                          int32_t maximum);
KLAPI int32_t KLGETBASICPIV(int32_t* header);

/* Branching directives of the global entities. An entity is named by its
 * column number, or a set by minus its set number; n < 0 gives one item per
 * entity in order (columns then unread). Priorities 1 (first) to 1000,
 * default 500; directions 'U' up first, 'D' down first, 'N' none; up and
 * down pseudo costs. Any array may be null. KLILOADDIR takes columns of the
 * presolved problem. KLGETDIR returns every entity's directive. */
KLAPI int32_t KLLOADDIR(int32_t n, const int32_t* columns, const int32_t* priorities, const char* directions,
                        const double* up_costs, const double* down_costs);
KLAPI int32_t KLILOADDIR(int32_t n, const int32_t* columns, const int32_t* priorities, const char* directions,
                         const double* up_costs, const double* down_costs);
KLAPI int32_t KLGETDIR(int32_t* n, int32_t* columns, int32_t* priorities, char* directions, double* up_costs,
                       double* down_costs);
/* Marks n rows as model cuts: rows that belong in the cut pool. */
KLAPI int32_t KLMODELCUTS(int32_t n, const int32_t* rows);
/* Reads the directives file NAME.dir of the problem, or the file named. */
KLAPI int32_t KLDIRECTIVES(const char* name);

/* Cut manager, mostly for use inside the cut-manager entries. Columns are
 * the caller's column numbers, pool indices the records of the cut pool;
 * a count of -1 means every candidate. Senses 'E', 'G', 'L'; the elements
 * of cut i are start[i] .. start[i+1]-1 of columns and coefficients. Type
 * rule: 1 type equal, 2 a common bit, 3 all bits of the type, other values
 * every cut.
 * KLADDCUTS puts cuts straight into the LP (listed with index 0 less the
 * index base until the search moves them into the pool); KLSTORECUTS keeps
 * them in the pool (duplicate_mode 0 none, 1 the same type at least as
 * tight, 2 any type) and returns their pool indices; KLLOADCUTS and
 * KLDELCUTS move pool cuts into and out of the LP (KLDELCUTS lists cut-row
 * numbers, 0 the first cut row); KLDROPCUTS frees pool cuts stored by the
 * caller that nothing uses. KLGETCNLIST (and its twin KLGETCMLIST) lists
 * the cuts of the LP, KLGETCPLIST the pool cuts violated by more than
 * tolerance at the current solution with their violations; both return the
 * full count even beyond capacity. KLGETCUTS reads pool cuts back (any
 * output may be null; elements beyond capacity are left out, the starts go
 * on). KLSTOREBNDS stores bound records ('L' lower, 'U' upper) and
 * KLBRANCHCUT attaches pool cuts and bound records to the branch being made
 * (in the UBE/USE entries of a branching object, or for both children of
 * the next branching). KLGETEST returns the up and down degradation rates
 * of a column at the last row prices. */
KLAPI int32_t KLADDCUTS(int32_t n, const int32_t* type, const char* sense, const double* rhs, const int32_t* start,
                        const int32_t* columns, const double* coefficients);
KLAPI int32_t KLSTORECUTS(int32_t n, int32_t duplicate_mode, const int32_t* type, const char* sense,
                          const double* rhs, const int32_t* start, int32_t* index_out, const int32_t* columns,
                          const double* coefficients);
KLAPI int32_t KLLOADCUTS(int32_t type, int32_t rule, int32_t count, const int32_t* list);
KLAPI int32_t KLDELCUTS(int32_t keep_binding, int32_t type, int32_t rule, double threshold, int32_t count,
                        const int32_t* list);
KLAPI int32_t KLDROPCUTS(int32_t type, int32_t rule, int32_t count, const int32_t* list);
KLAPI int32_t KLGETCNLIST(int32_t type, int32_t rule, int32_t* count, int32_t capacity, int32_t* list);
KLAPI int32_t KLGETCMLIST(int32_t type, int32_t rule, int32_t* count, int32_t capacity, int32_t* list);
KLAPI int32_t KLGETCPLIST(int32_t type, int32_t rule, double tolerance, int32_t* count, int32_t capacity,
                          int32_t* list, double* violation);
KLAPI int32_t KLGETCUTS(const int32_t* list, int32_t count, int32_t capacity, int32_t* type, char* sense,
                        int32_t* start, int32_t* columns, double* coefficients, double* rhs);
KLAPI int32_t KLSTOREBNDS(int32_t n, const int32_t* columns, const char* letters, const double* values,
                          int32_t* index_out);
KLAPI int32_t KLBRANCHCUT(int32_t n, const int32_t* list);
KLAPI int32_t KLGETEST(int32_t column, double* up, double* down);

/* Basis file. KLBASISOUT writes the basis of the current problem (of the
 * original problem when it is presolved) to NAME.bss, or to the file named;
 * KLBASISIN reads it back into the statuses, and the next optimisation starts
 * from it. Options: "t" the compact form (one status character per row and
 * column), "c" alone no file, "z" the bounds of two-sided rows exchanged.
 * KLBASISIN refuses a presolved problem. */
KLAPI int32_t KLBASISIN(const char* name, const char* options);
KLAPI int32_t KLBASISOUT(const char* name, const char* options);

/* ALTER file: applies the changes of NAME.alt (or of the file named; the
 * stem alone when NAME.alt will not open) to the loaded problem, or reads
 * them as row, column, value triplets from the console when name is null or
 * empty. The next solve and the writers see every change. */
KLAPI int32_t KLALTER(const char* name);

/* Modeller's binary load: the problem of NAME.sol and NAME.bif (name null
 * or empty: the current problem name). */
KLAPI int32_t KLVORNIN(const char* name);

#ifdef __cplusplus
}
#endif

#endif
