/* A project outside the tree that uses the installed library: prints the
 * version and, given the demo server's port, tests a connection. */
#include <quorvex/dbdesk_core.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char **argv) {
  printf("quorvex-dbdesk-core %s\n", dbdesk_core_version());
  if (argc < 2) return 0;
  char *reply = dbdesk_core_connect_test("127.0.0.1", atoi(argv[1]), "sa", "secret", NULL, 0, 5);
  if (!reply) return 1;
  printf("%s\n", reply);
  int ok = strncmp(reply, "{\"ok\":true,", 11) == 0;
  dbdesk_core_free(reply);
  return ok ? 0 : 1;
}
