/*
 * nurva_job: the whole production job on every programmer that is plugged in.
 *
 *   nurva_job PROJECT
 *
 * For each programmer: check it and its card, prepare the channel, open PROJECT on the
 * card, check the target and its supply, program the target and follow the job to its
 * end, verify it the same way, then read the target's Flash back and compare it with the
 * project's Flash image on the card. Every call's result code is checked; a programmer
 * whose step fails is reported and the next programmer is taken.
 *
 * Exit status: 0 every programmer passed, 1 at least one failed, 2 no programmer found
 * or a wrong command line.
 *
 * Plain C99 on the library's header: copy the pieces you need.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "NURVA_DLL.h"

/* A job that reports no end within this time is given up (the library sets no limit). */
#define JOB_LIMIT_SECONDS 120
/* Read back moves 256 bytes of Flash per call. */
#define READ_BACK_BLOCK 256
/* The project image is read in pieces of this size (one call moves at most 65535). */
#define IMAGE_PIECE 4096
/* The project report is a few hundred characters; the card's listing is longer. */
#define REPORT_BUFFER_SIZE (4 * NURVA_TEXT_BUFFER_SIZE)
/* The report's sixth line is the Flash image's size: "1024 bytes", or "none". */
#define REPORT_FLASH_LINE 5

/* A call that reaches no decision leaves res unchanged, so each call starts from a value
 * that no result code has. */
#define NO_ANSWER (-1)

/* One call's answer against the code it must give; prints the call and returns 0 when the
 * answer differs. */
static int expect(const char* call, int32_t res, const char* text, int32_t wanted) {
  if (res == wanted) {
    printf("  %-16s %3d  %s\n", call, (int)res, text);
    return 1;
  }
  if (res == NO_ANSWER)
    printf("  %-16s FAILED: no result code (text \"%s\")\n", call, text);
  else
    printf("  %-16s FAILED: %d \"%s\", wanted %d\n", call, (int)res, text, (int)wanted);
  return 0;
}

/* True while GetProgStatus reports a job that runs on. */
static int job_running(int32_t res) {
  switch (res) {
    case NURVA_RES_resOk:
    case NURVA_RES_eraChip:
    case NURVA_RES_prgFlash:
    case NURVA_RES_prgEEp:
    case NURVA_RES_prgUsrRow:
    case NURVA_RES_verifyFlash:
    case NURVA_RES_verifyEEp:
    case NURVA_RES_verifyUsrRow:
      return 1;
    default:
      return 0;
  }
}

/* Follows a started job with GetProgStatus until its final status, printing each change.
 * Each call waits at most 50 ms for the next status, so the loop needs no pause of its own. */
static int follow_job(int32_t channel, const char* job) {
  char text[NURVA_TEXT_BUFFER_SIZE];
  int32_t res = NO_ANSWER, shown = NO_ANSWER;
  const time_t until = time(NULL) + JOB_LIMIT_SECONDS;
  for (;;) {
    res = NO_ANSWER;
    text[0] = '\0';
    GetProgStatus(channel, &res, text);
    if (res != shown) {
      printf("    %-14s %3d  %s\n", job, (int)res, text);
      shown = res;
    }
    if (!job_running(res)) break;
    if (time(NULL) > until) {
      printf("  %-16s FAILED: no final status within %d s\n", job, JOB_LIMIT_SECONDS);
      return 0;
    }
  }
  /* The final status is printed above; a failed job's is printed once more as the failure. */
  return res == NURVA_RES_progDone || expect(job, res, text, NURVA_RES_progDone);
}

/* The size of the project's Flash image from its parameter report; 0 when it has none. */
static int flash_image_size(int32_t channel, const char* project, long* size) {
  char* report = malloc(REPORT_BUFFER_SIZE);
  int32_t res = NO_ANSWER;
  const char* line;
  int i, ok;
  if (report == NULL) return 0;
  report[0] = '\0';
  GetProjParams(channel, project, &res, report);
  ok = expect("GetProjParams", res, "(report)", NURVA_RES_resOk);
  *size = 0;
  line = report;
  for (i = 0; ok && line != NULL && i < REPORT_FLASH_LINE; ++i) {
    line = strstr(line, "\r\n");
    if (line != NULL) line += 2;
  }
  if (ok && line != NULL) *size = strtol(line, NULL, 10);
  free(report);
  return ok;
}

/* Reads the target's Flash back and compares it with the project's Flash image. */
static int read_back_and_compare(int32_t channel, const char* project) {
  char text[NURVA_TEXT_BUFFER_SIZE];
  int32_t res;
  long size = 0, at;
  uint8_t *image, *target;
  int ok = 1;

  if (!flash_image_size(channel, project, &size)) return 0;
  if (size <= 0) {
    printf("  %s has no Flash image to compare with\n", project);
    return 1;
  }
  image = malloc((size_t)size);
  target = malloc((size_t)size + READ_BACK_BLOCK); /* whole blocks land here */
  if (image == NULL || target == NULL) {
    printf("  out of memory for %ld bytes\n", size);
    free(image);
    free(target);
    return 0;
  }

  /* The project's image, from the card. */
  for (at = 0; ok && at < size; at += IMAGE_PIECE) {
    const long count = size - at < IMAGE_PIECE ? size - at : IMAGE_PIECE;
    res = NO_ANSWER;
    text[0] = '\0';
    UpFileBlockF(channel, image + at, (int32_t)at, (int32_t)count, &res, text);
    if (res != NURVA_RES_resOk) ok = expect("UpFileBlockF", res, text, NURVA_RES_resOk);
  }
  if (ok) printf("  %-16s %3d  %ld bytes of the project's Flash image\n", "UpFileBlockF", NURVA_RES_resOk, size);

  /* The target's Flash, block by block; ChipAddr is a byte address. */
  for (at = 0; ok && at < size; at += READ_BACK_BLOCK) {
    res = NO_ANSWER;
    text[0] = '\0';
    ReadBackChipF(channel, target + at, (int32_t)at, &res, text);
    if (res != NURVA_RES_resOk) ok = expect("ReadBackChipF", res, text, NURVA_RES_resOk);
  }
  if (ok) printf("  %-16s %3d  %ld bytes of the target's Flash\n", "ReadBackChipF", NURVA_RES_resOk, size);

  if (ok) {
    for (at = 0; at < size && image[at] == target[at]; ++at) {
    }
    if (at < size) {
      printf("  compare          FAILED: the target's Flash differs from the image at 0x%04lX (0x%02X, wanted 0x%02X)\n",
             at, target[at], image[at]);
      ok = 0;
    } else {
      printf("  compare               the target's Flash equals the project's image\n");
    }
  }
  free(image);
  free(target);
  return ok;
}

/* The whole job on one programmer; 1 when every step passed. */
static int run_job(int32_t channel, const char* project) {
  char text[NURVA_TEXT_BUFFER_SIZE];
  int32_t res, volt = 0;

#define CALL(expr, name, wanted)          \
  do {                                    \
    res = NO_ANSWER;                      \
    text[0] = '\0';                       \
    expr;                                 \
    if (!expect(name, res, text, wanted)) \
      return 0;                           \
  } while (0)

  CALL(CheckProgrammer(channel, &res, text), "CheckProgrammer", NURVA_RES_MMCok);
  CALL(InitChannel(channel, &res, text), "InitChannel", NURVA_RES_progFound);
  CALL(OpenAfile(channel, project, &res, text), "OpenAfile", NURVA_RES_resOk);

  /* An empty target, or one with old contents that programming erases first. */
  res = NO_ANSWER;
  text[0] = '\0';
  CheckDevice(channel, &res, text);
  if (res != NURVA_RES_NotEmptyErr && !expect("CheckDevice", res, text, NURVA_RES_resOk)) return 0;
  if (res == NURVA_RES_NotEmptyErr) printf("  %-16s %3d  %s (erased by the job)\n", "CheckDevice", (int)res, text);

  CALL(GetTargVolt(channel, &volt, &res, text), "GetTargVolt", NURVA_RES_resOk);
  if (volt == 0) {
    printf("  the target has no supply\n");
    return 0;
  }

  CALL(ProgDevice(channel, &res, text), "ProgDevice", NURVA_RES_resOk);
  if (!follow_job(channel, "program")) return 0;
  CALL(VerifyDevice(channel, &res, text), "VerifyDevice", NURVA_RES_resOk);
  if (!follow_job(channel, "verify")) return 0;

  if (!read_back_and_compare(channel, project)) return 0;

  CALL(ReleaseTarget(channel, &res, text), "ReleaseTarget", NURVA_RES_resOk);
#undef CALL
  return 1;
}

int main(int argc, char** argv) {
  char ids[NURVA_TEXT_BUFFER_SIZE];
  int32_t count = 0, channel;
  int passed = 0;
  const char* serial;

  if (argc != 2) {
    fprintf(stderr, "usage: %s PROJECT\n", argv[0]);
    return 2;
  }

  /* Discovery: about a second. The serial numbers come as one text, CR LF between them. */
  AbortAll();
  ids[0] = '\0';
  GetProgIDs(&count, ids);
  printf("%d programmer(s) found\n", (int)count);
  if (count <= 0) return 2;

  serial = ids;
  for (channel = 0; channel < count; ++channel) {
    const size_t len = strcspn(serial, "\r\n");
    printf("channel %d, serial %.*s\n", (int)channel, (int)len, serial);
    serial += len;
    serial += strspn(serial, "\r\n");
    if (run_job(channel, argv[1])) {
      printf("channel %d: passed\n", (int)channel);
      ++passed;
    } else {
      printf("channel %d: FAILED\n", (int)channel);
    }
  }
  printf("%d of %d programmer(s) passed\n", passed, (int)count);
  return passed == count ? 0 : 1;
}
