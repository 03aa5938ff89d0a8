/* The peer timing for bench/barrier_factor_compare.sh: reads a matrix B
   (Matrix Market, B = A·D^½) and times, for B·Bᵀ, the minimum-degree
   ordering, the symbolic analysis on that ordering and the numeric
   factorisation (best of three). Built by the script against the Debian
   package libsuitesparse-dev; never part of the library or its tests.
   Prints: order_s symbolic_s numeric_s nz(L) complete (1, or 0 when the
   factorisation stopped at a pivot that is not positive). */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "cholmod.h"

static double now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + 1e-9 * (double)t.tv_nsec;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: cholmod_factor MATRIX.mtx\n");
    return 2;
  }
  FILE* f = fopen(argv[1], "r");
  if (f == NULL) return 1;
  cholmod_common c;
  cholmod_start(&c);
  c.print = 0;
  cholmod_sparse* b = cholmod_read_sparse(f, &c);
  fclose(f);
  if (b == NULL) return 1;
  const size_t rows = b->nrow;
  int* perm = malloc(rows * sizeof(int));
  double order = 1e300, symbolic = 1e300, numeric = 1e300;
  double nz = 0.0;
  int complete = 1;
  for (int repeat = 0; repeat < 3; ++repeat) {
    double t = now();
    cholmod_amd(b, NULL, 0, perm, &c);
    t = now() - t;
    if (t < order) order = t;
    c.nmethods = 1;
    c.method[0].ordering = CHOLMOD_GIVEN;
    t = now();
    cholmod_factor* l = cholmod_analyze_p(b, perm, NULL, 0, &c);
    t = now() - t;
    if (t < symbolic) symbolic = t;
    double beta[2] = {1e-8, 0.0}; /* B·Bᵀ + 1e-8·I: dependent rows stay factorisable */
    t = now();
    cholmod_factorize_p(b, beta, NULL, 0, l, &c);
    t = now() - t;
    if (t < numeric) numeric = t;
    nz = c.lnz;
    complete = c.status == CHOLMOD_OK;
    cholmod_free_factor(&l, &c);
  }
  printf("%.6f %.6f %.6f %.0f %d\n", order, symbolic, numeric, nz, complete);
  free(perm);
  cholmod_free_sparse(&b, &c);
  cholmod_finish(&c);
  return 0;
}
