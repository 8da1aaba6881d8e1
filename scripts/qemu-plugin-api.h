/* What the project's TCG plugins (scripts/qemu-insn-count.c for qemu-user,
 * scripts/qemu-system-insn-count.c for qemu-system-arm) share: the part of
 * QEMU's plugin interface both use, and their one argument.
 *
 * QEMU installs no header for its plugin interface, so the few declarations
 * used are written out; they are version 1 of that interface (QEMU 7), which
 * QEMU checks against qemu_plugin_version when it loads a plugin.
 */
#ifndef QEMU_PLUGIN_API_H
#define QEMU_PLUGIN_API_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

typedef uint64_t qemu_plugin_id_t;
struct qemu_plugin_tb;
typedef struct qemu_info_t qemu_info_t;

typedef void (*qemu_plugin_vcpu_tb_trans_cb_t)(qemu_plugin_id_t id, struct qemu_plugin_tb *tb);

void qemu_plugin_register_vcpu_tb_trans_cb(qemu_plugin_id_t id, qemu_plugin_vcpu_tb_trans_cb_t cb);
size_t qemu_plugin_tb_n_insns(const struct qemu_plugin_tb *tb);

#define EXPORT __attribute__((visibility("default")))

EXPORT int qemu_plugin_version = 1;

/* The file the counts go to, given as out=PATH: 0 with it in `path`, else
 * -1 with the reason on stderr under the plugin's `name`. */
static int plugin_out_path(int argc, char **argv, char *path, size_t size, const char *name)
{
    path[0] = '\0';
    for (int i = 0; i < argc; ++i) {
        if (strncmp(argv[i], "out=", 4) == 0)
            snprintf(path, size, "%s", argv[i] + 4);
    }
    if (!path[0]) {
        fprintf(stderr, "%s: give out=PATH\n", name);
        return -1;
    }
    return 0;
}

#endif
