#!/bin/sh
# Builds the printer's USB gadget through configfs: one configuration with one
# printer function ("printer.usb0", 10 requests queued each way), bound to a
# USB device controller. The kernel then creates the printer node
# /dev/g_printer0 (class usb_printer_gadget), which the package's udev rule
# links to /dev/g_nira_printer, the daemon's fixed device.
#
# Usage: gadget-setup.sh [UDC]     (default: the first controller in /sys/class/udc)
#
# Run as root, once per boot, before the daemon starts. A gadget of this name
# that already exists is left as it is. The identity below can be overridden
# through the environment (GADGET_VENDOR, GADGET_PRODUCT, GADGET_SERIAL, ...).
set -eu

name=${GADGET_NAME:-brevprinter}
vendor_id=${GADGET_VENDOR:-0x0525}        # the Linux printer gadget's default IDs
product_id=${GADGET_PRODUCT:-0xa4a8}
manufacturer=${GADGET_MANUFACTURER:-Corvane}
product=${GADGET_PRODUCT_NAME:-Printer}
serial=${GADGET_SERIAL:-0}
# The IEEE 1284 device ID the host's printer driver reads.
pnp_string=${GADGET_PNP_STRING:-MFG:Corvane;MDL:Printer;CMD:RAW;CLS:PRINTER;}

for module in libcomposite usb_f_printer; do
    # Already loaded (or built in): nothing to do, and no modules.dep needed.
    [ -d "/sys/module/$module" ] || modprobe "$module"
done

configfs=/sys/kernel/config
[ -d "$configfs/usb_gadget" ] || mount -t configfs none "$configfs"
gadget=$configfs/usb_gadget/$name
if [ -d "$gadget" ]; then
    echo "gadget $name exists already" >&2
    exit 0
fi

udc=${1:-}
if [ -z "$udc" ]; then
    for controller in /sys/class/udc/*; do
        [ -e "$controller" ] && udc=${controller##*/}
        break
    done
fi
if [ -z "$udc" ]; then
    echo "no USB device controller in /sys/class/udc" >&2
    exit 1
fi

mkdir "$gadget"
echo "$vendor_id" > "$gadget/idVendor"
echo "$product_id" > "$gadget/idProduct"
mkdir "$gadget/strings/0x409"
echo "$manufacturer" > "$gadget/strings/0x409/manufacturer"
echo "$product" > "$gadget/strings/0x409/product"
echo "$serial" > "$gadget/strings/0x409/serialnumber"

mkdir "$gadget/functions/printer.usb0"
echo "$pnp_string" > "$gadget/functions/printer.usb0/pnp_string"
echo 10 > "$gadget/functions/printer.usb0/q_len"

mkdir "$gadget/configs/c.1"
mkdir "$gadget/configs/c.1/strings/0x409"
echo "Printer" > "$gadget/configs/c.1/strings/0x409/configuration"
# Self-powered: the printer draws next to nothing from the bus (MaxPower in mA).
echo 0xc0 > "$gadget/configs/c.1/bmAttributes"
echo 2 > "$gadget/configs/c.1/MaxPower"
ln -s "$gadget/functions/printer.usb0" "$gadget/configs/c.1/"

echo "$udc" > "$gadget/UDC"
