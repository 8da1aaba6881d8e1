/* A TCG plugin for qemu-user that counts the guest instructions a program
 * executes between two marker system calls, for benchmarks built for
 * another machine (scripts/bench-armhf.sh). Wall-clock time under emulation
 * says nothing about the board; the instruction count is exact.
 *
 * The program marks a stretch with prctl(0x62726576, 1) at its start and
 * prctl(0x62726576, 0) at its end (an option no kernel knows, which fails
 * harmlessly); at each end the plugin writes the stretch's count to the file
 * given as out=PATH, where the program reads it back.
 */
#include "qemu-plugin-api.h"

enum qemu_plugin_op { QEMU_PLUGIN_INLINE_ADD_U64 };

typedef void (*qemu_plugin_vcpu_syscall_cb_t)(qemu_plugin_id_t id, unsigned int vcpu_index, int64_t num,
                                              uint64_t a1, uint64_t a2, uint64_t a3, uint64_t a4,
                                              uint64_t a5, uint64_t a6, uint64_t a7, uint64_t a8);

void qemu_plugin_register_vcpu_syscall_cb(qemu_plugin_id_t id, qemu_plugin_vcpu_syscall_cb_t cb);
void qemu_plugin_register_vcpu_tb_exec_inline(struct qemu_plugin_tb *tb, enum qemu_plugin_op op,
                                              void *ptr, uint64_t imm);

/* The prctl system call of 32-bit ARM Linux, and the marker option. */
#define PRCTL_NUMBER 172
#define MARKER_OPTION 0x62726576

static uint64_t executed;
static uint64_t stretch_start;
static char out_path[4096];

/* Every translated block adds its instruction count each time it runs. */
static void on_translation(qemu_plugin_id_t id, struct qemu_plugin_tb *tb)
{
    (void)id;
    qemu_plugin_register_vcpu_tb_exec_inline(tb, QEMU_PLUGIN_INLINE_ADD_U64, &executed,
                                             qemu_plugin_tb_n_insns(tb));
}

static void on_syscall(qemu_plugin_id_t id, unsigned int vcpu_index, int64_t num, uint64_t a1,
                       uint64_t a2, uint64_t a3, uint64_t a4, uint64_t a5, uint64_t a6, uint64_t a7,
                       uint64_t a8)
{
    (void)id, (void)vcpu_index, (void)a3, (void)a4, (void)a5, (void)a6, (void)a7, (void)a8;
    if (num != PRCTL_NUMBER || (uint32_t)a1 != MARKER_OPTION)
        return;
    if ((uint32_t)a2 == 1) {
        stretch_start = executed;
        return;
    }
    FILE *out = fopen(out_path, "w");
    if (out) {
        fprintf(out, "%llu\n", (unsigned long long)(executed - stretch_start));
        fclose(out);
    }
}

EXPORT int qemu_plugin_install(qemu_plugin_id_t id, const qemu_info_t *info, int argc, char **argv)
{
    (void)info;
    if (plugin_out_path(argc, argv, out_path, sizeof out_path, "qemu-insn-count") != 0)
        return -1;
    qemu_plugin_register_vcpu_tb_trans_cb(id, on_translation);
    qemu_plugin_register_vcpu_syscall_cb(id, on_syscall);
    return 0;
}
