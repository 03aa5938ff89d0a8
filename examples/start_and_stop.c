/* Starts the library, shows a few controls, changes one, and shuts down.
 * Every line the library prints arrives through the output callback. */
#include <stdio.h>

#include "klsol32.h"

static void print_line(const char* text, int32_t length, int32_t kind) {
  if (kind >= 0 && text != NULL) printf("%.*s\n", (int)length, text);
}

/* The wide entry is the one registration that start-up keeps, so it is the
 * way to see the banner. Each character is one byte of the original text. */
static void print_wide_line(KLWideString text, int32_t length, int32_t kind) {
  if (kind < 0) return;
  for (int32_t i = 0; i < length; ++i) putchar((char)text[i]);
  putchar('\n');
}

int main(void) {
  KLDEFINEUOPVBENTRY(print_wide_line);
  int32_t status = KLINITLZ(NULL, NULL);
  KLDEFINEUOPVBENTRY(NULL);
  KLDEFINEUOPENTRY(print_line);
  if (status != KL_STATUS_OK) {
    fprintf(stderr, "KLINITLZ failed with status %d\n", (int)status);
    return 1;
  }
  printf("klsol32 started\n");

  int32_t itrlog = 0, ifdbg = 0;
  double ztolpv = 0.0;
  char version[9] = {0};
  KLGETICV(KLIC_ITRLOG, &itrlog);
  KLGETICV(KLIC_IFDBG, &ifdbg);
  KLGETDCV(KLDC_ZTOLPV, &ztolpv);
  KLGETCCV(KLCC_VERSION, version);
  printf("ITRLOG=%d IFDBG=%d ZTOLPV=%g VERSION=%s\n", (int)itrlog, (int)ifdbg, ztolpv, version);

  KLSETICV(KLIC_ITRLOG, 10);
  KLGETICV(KLIC_ITRLOG, &itrlog);
  printf("ITRLOG set to %d\n", (int)itrlog);

  /* A bad control number is reported through the callback as message 412. */
  status = KLGETICV(500, &itrlog);
  int32_t error = 0;
  KLGETIPV(KLIA_ERRORCODE, &error);
  printf("KLGETICV(500) returned %d, error number %d\n", (int)status, (int)error);

  KLSETDEFAULT();
  KLGETICV(KLIC_ITRLOG, &itrlog);
  printf("after KLSETDEFAULT ITRLOG=%d\n", (int)itrlog);

  KLFREEXO();
  printf("klsol32 shut down\n");
  return 0;
}
