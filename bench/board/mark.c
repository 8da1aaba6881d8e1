/* Marks the start ("mark start") or the end ("mark end") of a stretch whose
 * guest instructions scripts/qemu-system-insn-count.c counts: an A32 hint
 * that the processor executes as a no-operation and the plugin watches for.
 * Built for the board in ARM state, statically (scripts/bench-armhf-gadget.sh).
 */
#include <string.h>

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    if (strcmp(argv[1], "start") == 0)
        __asm__ volatile(".inst 0xe320f062" ::: "memory"); /* hint #98 */
    else if (strcmp(argv[1], "end") == 0)
        __asm__ volatile(".inst 0xe320f063" ::: "memory"); /* hint #99 */
    else
        return 2;
    return 0;
}
