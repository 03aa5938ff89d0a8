/* Loads the diet problem (diet.mps, given as the argument), minimises its
 * cost and checks the answer from outside: the objective value the library
 * reports, and the same value recomputed from the solution and the costs,
 * must both be 92.5. Exits 0 when they are. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include "klsol32.h"

static const double expected_cost = 92.5;
static const double tolerance = 1e-9;

static void print_line(const char* text, int32_t length, int32_t kind) {
  if (kind >= 0 && text != NULL) printf("%.*s\n", (int)length, text);
}

static int solve(const char* mps_file) {
  /* The problem takes the name "diet" in the current directory, so that
   * its solution file diet.sol is written here, not beside the input. */
  if (KLINPUT(mps_file) != KL_STATUS_OK || KLSETPROB("diet") != KL_STATUS_OK) return 1;
  if (KLMINIM("") != KL_STATUS_OK) return 1;

  int32_t lp_status = 0, columns = 0;
  double reported = 0.0;
  KLGETIPV(KLIA_LPSTATUS, &lp_status);
  KLGETIPV(KLIA_NCOLS, &columns);
  KLGETDPV(KLDA_OBJVAL, &reported);
  if (lp_status != 1 || columns <= 0) {
    fprintf(stderr, "not optimal: LP status %d\n", (int)lp_status);
    return 1;
  }

  double* x = malloc((size_t)columns * sizeof *x);
  double* cost = malloc((size_t)columns * sizeof *cost);
  int failed = x == NULL || cost == NULL || KLSOLUTION(x, NULL, NULL, NULL) != KL_STATUS_OK ||
               KLGETOBJ(cost, 0, columns - 1) != KL_STATUS_OK;
  double recomputed = 0.0;
  for (int32_t j = 0; !failed && j < columns; ++j) recomputed += cost[j] * x[j];
  free(x);
  free(cost);
  if (failed) return 1;

  printf("objective %.6f, recomputed from the solution %.6f\n", reported, recomputed);
  if (fabs(reported - expected_cost) > tolerance || fabs(recomputed - expected_cost) > tolerance) {
    fprintf(stderr, "expected the objective %.1f\n", expected_cost);
    return 1;
  }
  return 0;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s path/to/diet.mps\n", argv[0]);
    return 2;
  }
  if (KLINITLZ(NULL, NULL) != KL_STATUS_OK) {
    fprintf(stderr, "KLINITLZ failed\n");
    return 1;
  }
  KLDEFINEUOPENTRY(print_line);
  const int result = solve(argv[1]);
  KLFREEXO();
  return result;
}
