# shellcheck shell=bash
# What the virtual-machine rigs (usb-serial-rig, wayland-rig) share; sourced,
# not run. Before sourcing, a rig sets:
#   rig_name        its name, the prefix of its error lines
#   total_timeout   seconds for the whole run
# and after it defines report(), which prints what the guest left behind when
# a step fails.
#
# The machine: Debian's kernel under QEMU with TCG, booted from a busybox
# initramfs made in BUILD/vm/. The init loads the modules the rig asked for,
# mounts this machine's root read-only over 9p, gives it fresh /proc, /sys,
# /dev (devtmpfs, devpts, a tmpfs on /dev/shm) and tmpfs on /tmp and /run,
# mounts the writable share "out" (BUILD/vm/out) at /run/rig-out, and chroots
# there to run the rig's command, whose output goes to out/guest.log. Its exit
# status goes to out/status, the kernel log to out/dmesg.txt; then the
# machine powers off.

rig_fail() {
  echo "$rig_name: $*" >&2
  exit 1
}

# Ends with "NAME: N passed, M failed" (NAME: rig_summary_name, or vm): the
# guest's steps, and one failure more when the rig itself failed before the
# guest could tell.
rig_summary() {
  local rc=$1 passed=0 failed=0
  if [ -e "${out:-}/guest.log" ]; then
    passed=$(grep -c '^guest: ok ' "$out/guest.log" || true)
    failed=$(grep -c '^guest: FAIL ' "$out/guest.log" || true)
  fi
  [ "$rc" -ne 0 ] && [ "$failed" -eq 0 ] && failed=1
  echo "${rig_summary_name:-vm}: $passed passed, $failed failed"
}

pids=()
rig_cleanup() {
  local rc=$?
  for p in "${pids[@]}"; do
    kill "$p" 2>/dev/null || true
  done
  for p in "${pids[@]}"; do
    wait "$p" 2>/dev/null || true
  done
  rig_summary "$rc"
}
trap rig_cleanup EXIT
trap 'exit 130' INT TERM

rig_check_tools() {
  local tool
  for tool in qemu-system-x86_64 python3; do
    command -v "$tool" >/dev/null || rig_fail "$tool is missing (scripts/install-deps test installs it)"
  done
  if ! [ -x /bin/busybox ] || ! grep -qx insmod <<<"$(/bin/busybox --list)"; then
    rig_fail "no static busybox at /bin/busybox (package busybox-static)"
  fi
}

# Debian's kernel and the modules of the same version, whatever this
# machine's running kernel is: sets kernel_version and kernel.
rig_find_kernel() {
  local k v
  kernel_version=
  for k in /boot/vmlinuz-*; do
    v=${k#/boot/vmlinuz-}
    [ -d "/lib/modules/$v" ] && kernel_version=$v
  done
  [ -n "$kernel_version" ] || rig_fail "no /boot/vmlinuz-* with its /lib/modules (package linux-image-amd64)"
  kernel=/boot/vmlinuz-$kernel_version
}

# rig_initramfs WORK COMMAND PROGDIR MODULE...
# Makes WORK/initramfs.gz: busybox, MODULE... with what they depend on (the
# 9p share's own are always added), and the init. COMMAND runs in the chroot
# under /bin/sh; PROGDIR is the folder of the guest's programs, shared on its
# own when the guest's fresh /tmp would hide it. Files put in WORK/payload
# beforehand are copied to the guest's /run/rig.
rig_initramfs() {
  local work=$1 command=$2 progdir=$3
  shift 3
  local root=$work/initramfs
  mkdir -p "$root"/{bin,dev,proc,sys,host,modules}
  cp /bin/busybox "$root/bin/busybox"
  [ -d "$work/payload" ] && cp -r "$work/payload" "$root/payload"
  : >"$root/modules/order"
  local m ko name
  for m in "$@" virtio_pci 9pnet_virtio 9p; do
    modprobe -S "$kernel_version" --show-depends "$m" || rig_fail "modprobe knows no module $m for $kernel_version"
  done | awk '$1 == "insmod" { print $2 }' | while read -r ko; do
    name=$(basename "$ko")
    name=${name%.xz}
    name=${name%.zst}
    grep -qx "$name" "$root/modules/order" && continue
    # busybox's insmod reads no compressed modules.
    case $ko in
    *.xz) xz -dc "$ko" >"$root/modules/$name" ;;
    *.zst) zstd -qdc "$ko" >"$root/modules/$name" ;;
    *) cp "$ko" "$root/modules/$name" ;;
    esac
    echo "$name" >>"$root/modules/order"
  done
  grep -qx 9p.ko "$root/modules/order" || rig_fail "the modules were not gathered"

  printf '%s\n' "$command" >"$root/command"
  printf '%s\n' "$progdir" >"$root/progdir"

  cat >"$root/init" <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
for m in $(cat /modules/order); do
  insmod /modules/$m || echo "init: insmod $m failed"
done
opts=trans=virtio,version=9p2000.L,msize=262144
if mount -t 9p -o ro,$opts host /host; then
  mount -t proc proc /host/proc
  mount -t sysfs sys /host/sys
  mount -t devtmpfs dev /host/dev
  mkdir -p /host/dev/pts /host/dev/shm
  mount -t devpts devpts /host/dev/pts
  mount -t tmpfs shm /host/dev/shm
  mount -t tmpfs tmp /host/tmp
  mount -t tmpfs run /host/run
  progdir=$(cat /progdir)
  if [ ! -e "/host$progdir" ]; then
    mkdir -p "/host$progdir"
    mount -t 9p -o ro,$opts prog "/host$progdir"
  fi
  [ -d /payload ] && cp -r /payload /host/run/rig
  mkdir /host/run/rig-out
  mount -t 9p -o $opts,cache=none out /host/run/rig-out
  echo "init: running $(cat /command)"
  chroot /host /bin/sh -c "$(cat /command)" >/host/run/rig-out/guest.log 2>&1
  echo $? >/host/run/rig-out/status.part
  mv /host/run/rig-out/status.part /host/run/rig-out/status
  dmesg >/host/run/rig-out/dmesg.txt
  sync
  umount /host/run/rig-out
else
  echo "init: cannot mount the host's root"
fi
poweroff -f
EOF
  chmod +x "$root/init"
  (cd "$root" && find . | /bin/busybox cpio -o -H newc 2>/dev/null | gzip -1) >"$work/initramfs.gz"
}

# rig_start_qemu WORK PROGDIR MEMORY CPUS QEMU-OPTION...
# Starts the machine in the background (its pid in qemu, the start time in
# started); the console goes to WORK/console.log. no_timer_check: on a busy
# host, emulation is too slow for the kernel's early check of the IO-APIC
# timer, which then panics ("IO-APIC + timer doesn't work!").
rig_start_qemu() {
  local work=$1 progdir=$2 memory=$3 cpus=$4
  shift 4
  started=$(date +%s)
  nice -n 15 qemu-system-x86_64 \
    -accel tcg -m "$memory" -smp "$cpus" -no-reboot \
    -display none -monitor none -serial "file:$work/console.log" \
    -kernel "$kernel" -initrd "$work/initramfs.gz" \
    -append "console=ttyS0 loglevel=5 panic=-1 rdinit=/init no_timer_check" \
    -virtfs local,path=/,mount_tag=host,security_model=none,readonly=on,multidevs=remap \
    -virtfs "local,path=$out,mount_tag=out,security_model=none" \
    -virtfs "local,path=$progdir,mount_tag=prog,security_model=none,readonly=on" \
    "$@" \
    >"$work/qemu.log" 2>&1 &
  qemu=$!
  pids+=("$qemu")
}

# Waits for the guest's marker $1 while the machine runs; false on time-out.
await() {
  while [ ! -e "$out/$1" ]; do
    kill -0 "$qemu" 2>/dev/null || return 1
    [ $(($(date +%s) - started)) -lt "$total_timeout" ] || return 1
    sleep 0.2
  done
}

step_failed() {
  echo "$rig_name: $1 (after $(($(date +%s) - started)) s)" >&2
  report
  echo "--- QEMU's console ($work/console.log), last lines"
  tail -n 20 "$work/console.log" 2>/dev/null || true
  cat "$work/qemu.log" 2>/dev/null || true
  exit 1
}

# Waits for the machine to power off after the guest's out/status; sets
# elapsed to its up-time in seconds.
await_poweroff() {
  await status || step_failed "the guest did not finish"
  while kill -0 "$qemu" 2>/dev/null && [ $(($(date +%s) - started)) -lt "$total_timeout" ]; do
    sleep 0.2
  done
  kill -0 "$qemu" 2>/dev/null && step_failed "the machine did not power off"
  elapsed=$(($(date +%s) - started))
}
