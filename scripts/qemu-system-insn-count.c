/* A TCG plugin for qemu-system-arm that counts the guest instructions each
 * virtual processor executes, user and kernel apart, between two marker
 * instructions: the whole machine's cost of a stretch of work, for the board
 * benchmark of scripts/bench-armhf-gadget.sh.
 *
 * A program marks the stretch with the A32 hint instructions "hint #98" (its
 * start) and "hint #99" (its end), which processors execute as no-operations.
 * At each end the plugin appends one line per processor to the file given as
 * out=PATH: "stretch S cpu N user U kernel K", stretches numbered from 1.
 * Instructions at or above the kernel's module area (0xbf000000, the 3G/1G
 * split of Debian's armmp kernel) count as the kernel's. A processor that
 * waits for an interrupt (WFI) executes nothing meanwhile, so an idle
 * processor adds only the instructions of its wake-ups. One that waits for
 * an event (WFE, in the kernel's spinlocks) sleeps on a board too, but spins
 * under TCG as fast as the host lets it: a block holding a WFE and the block
 * run after it (the lock's check) are left out.
 */
#include "qemu-plugin-api.h"

struct qemu_plugin_insn;
enum qemu_plugin_cb_flags { QEMU_PLUGIN_CB_NO_REGS };

typedef void (*qemu_plugin_vcpu_udata_cb_t)(unsigned int vcpu_index, void *userdata);

void qemu_plugin_register_vcpu_tb_exec_cb(struct qemu_plugin_tb *tb, qemu_plugin_vcpu_udata_cb_t cb,
                                          enum qemu_plugin_cb_flags flags, void *userdata);
void qemu_plugin_register_vcpu_insn_exec_cb(struct qemu_plugin_insn *insn,
                                            qemu_plugin_vcpu_udata_cb_t cb,
                                            enum qemu_plugin_cb_flags flags, void *userdata);
struct qemu_plugin_insn *qemu_plugin_tb_get_insn(const struct qemu_plugin_tb *tb, size_t idx);
const void *qemu_plugin_insn_data(const struct qemu_plugin_insn *insn);
size_t qemu_plugin_insn_size(const struct qemu_plugin_insn *insn);
uint64_t qemu_plugin_insn_vaddr(const struct qemu_plugin_insn *insn);

#define MAX_CPUS 8
#define KERNEL_START 0xbf000000u
#define MARK_START 0xe320f062u /* hint #98 */
#define MARK_END 0xe320f063u   /* hint #99 */

#define WFE_A32 0xe320f002u
#define WFE_T16 0xffffbf20u /* as instruction_word gives it */

/* Each processor adds to its own counters only: [cpu][0] user, [cpu][1] kernel. */
static uint64_t executed[MAX_CPUS][2];
static int after_wfe[MAX_CPUS];
static uint64_t stretch_start[MAX_CPUS][2];
static char out_path[4096];
static int stretches;

/* A block's user data is its instruction count, shifted by two, with its
 * ring in bit 0 and whether it holds a WFE in bit 1. */
static void on_block(unsigned int cpu, void *userdata)
{
    uintptr_t block = (uintptr_t)userdata;
    if (cpu >= MAX_CPUS)
        return;
    int spinning = after_wfe[cpu] || (block & 2);
    after_wfe[cpu] = (block & 2) != 0;
    if (!spinning)
        executed[cpu][block & 1] += block >> 2;
}

static void on_start(unsigned int cpu, void *userdata)
{
    (void)cpu, (void)userdata;
    memcpy(stretch_start, executed, sizeof executed);
}

static void on_end(unsigned int cpu, void *userdata)
{
    (void)cpu, (void)userdata;
    FILE *out = fopen(out_path, "a");
    if (!out)
        return;
    ++stretches;
    for (int i = 0; i < MAX_CPUS; ++i) {
        uint64_t user = executed[i][0] - stretch_start[i][0];
        uint64_t kernel = executed[i][1] - stretch_start[i][1];
        if (user || kernel)
            fprintf(out, "stretch %d cpu %d user %llu kernel %llu\n", stretches, i,
                    (unsigned long long)user,
                    (unsigned long long)kernel);
    }
    fclose(out);
}

/* The instruction's encoding; a 16-bit Thumb one with its upper half set. */
static uint32_t instruction_word(const struct qemu_plugin_insn *insn)
{
    uint32_t word = 0;
    size_t size = qemu_plugin_insn_size(insn);
    if (size <= sizeof word)
        memcpy(&word, qemu_plugin_insn_data(insn), size);
    return size == 2 ? word | 0xffff0000u : word;
}

static void on_translation(qemu_plugin_id_t id, struct qemu_plugin_tb *tb)
{
    (void)id;
    size_t count = qemu_plugin_tb_n_insns(tb);
    if (!count)
        return;
    uintptr_t kernel = qemu_plugin_insn_vaddr(qemu_plugin_tb_get_insn(tb, 0)) >= KERNEL_START;
    uintptr_t wfe = 0;
    for (size_t i = 0; i < count; ++i) {
        struct qemu_plugin_insn *insn = qemu_plugin_tb_get_insn(tb, i);
        uint32_t word = instruction_word(insn);
        if (word == WFE_A32 || word == WFE_T16)
            wfe = 2;
        else if (word == MARK_START)
            qemu_plugin_register_vcpu_insn_exec_cb(insn, on_start, QEMU_PLUGIN_CB_NO_REGS, NULL);
        else if (word == MARK_END)
            qemu_plugin_register_vcpu_insn_exec_cb(insn, on_end, QEMU_PLUGIN_CB_NO_REGS, NULL);
    }
    qemu_plugin_register_vcpu_tb_exec_cb(tb, on_block, QEMU_PLUGIN_CB_NO_REGS,
                                         (void *)((count << 2) | wfe | kernel));
}

EXPORT int qemu_plugin_install(qemu_plugin_id_t id, const qemu_info_t *info, int argc, char **argv)
{
    (void)info;
    if (plugin_out_path(argc, argv, out_path, sizeof out_path, "qemu-system-insn-count") != 0)
        return -1;
    qemu_plugin_register_vcpu_tb_trans_cb(id, on_translation);
    return 0;
}
