# Used by scripts/vmtest: the kernel, the initial file system and the virtual machine with its
# fixed port layout, and the host's side of the machine's break requests.
#
# Port layout (the kernel numbers the four ISA ports first, then the PCI cards in slot order):
#   ttyS0         the machine's console (a file in the run directory)
#   ttyS1         an external loopback plug: a FIFO that carries the port's output to its input
#   ttyS2, ttyS3  a null-modem cable: two FIFOs crosswise
#   ttyS4..ttyS15 nothing attached (three four-port PCI cards)
#   ttyS16        the machine's requests to the host (vm-break), not for tests

VM_CACHE=build/vm

# Prints the path of a kernel image with the 8250 driver, its PCI part and devtmpfs built in:
# Debian's own, fetched once into the cache and never installed.
vm_kernel() {
    local cached
    cached=$(ls "$VM_CACHE"/vmlinuz-* 2>/dev/null | sort -V | tail -n 1)
    if [ -n "$cached" ]; then
        echo "$cached"
        return
    fi
    local package
    package=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-/ {print $2; exit}')
    if [ -z "$package" ]; then
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo="sudo"
        $sudo apt-get update -qq
        package=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-/ {print $2; exit}')
    fi
    local download
    download=$(mktemp -d)
    echo "Fetching the kernel image of $package into $VM_CACHE" >&2
    # As root, apt warns that its own user cannot write to the download directory.
    (cd "$download" && apt-get download -qq "$package" 2>&1 | grep -v 'unsandboxed' || true) >&2
    mkdir -p "$VM_CACHE"
    dpkg-deb --fsys-tarfile "$download"/"$package"_*.deb |
        tar -x -C "$download" --wildcards './boot/vmlinuz-*'
    mv "$download"/boot/vmlinuz-* "$VM_CACHE"/
    rm -rf "$download"
    ls "$VM_CACHE"/vmlinuz-* | sort -V | tail -n 1
}

# vm_initramfs STAGE OUTPUT COMMAND: the machine's root file system, a gzip'ed cpio archive:
# busybox, the agent and the console with the shared libraries they load, the machine's own
# scripts and the command that its init runs.
vm_initramfs() {
    local stage=$1 output=$2 command=$3
    mkdir -p "$stage"/{bin,dev,proc,sys,tmp,run,root,etc,lib64,lib/x86_64-linux-gnu}
    mkdir -p "$stage"/opt/vynloop/bin "$stage"/opt/vynloop/tests
    cp /bin/busybox "$stage"/bin/busybox
    local program library
    for program in vynloop vynloopctl; do
        strip --strip-unneeded -o "$stage"/opt/vynloop/bin/$program build/bin/$program
    done
    # Busybox has no flock: vm-break and the suite use the system's own.
    cp "$(command -v flock)" "$stage"/bin/flock
    for library in $(ldd build/bin/vynloop build/bin/vynloopctl "$(command -v flock)" |
                     awk '$2 == "=>" && $3 ~ /^\// {print $3}' | sort -u); do
        strip --strip-unneeded -o "$stage"/lib/x86_64-linux-gnu/"$(basename "$library")" \
            "$library"
    done
    cp -L /lib64/ld-linux-x86-64.so.2 "$stage"/lib64/
    install -m 0755 scripts/lib/vm/init "$stage"/init
    install -m 0755 scripts/lib/vm/vm-break "$stage"/opt/vynloop/bin/vm-break
    install -m 0755 tests/vm/suite.sh "$stage"/opt/vynloop/tests/suite.sh
    printf '%s\n' "$command" >"$stage"/command
    (cd "$stage" && find . | cpio -o -H newc --quiet) | gzip -1 >"$output"
}

# vm_wiring DIR: the FIFOs of the plug and the cable. A pipe character device reads NAME.in and
# writes NAME.out, or reads and writes NAME itself when those two do not exist.
vm_wiring() {
    local dir=$1
    rm -f "$dir"/{plug,ab,ba,cable2.in,cable2.out,cable3.in,cable3.out,requests.in,requests.out}
    rm -f "$dir"/{qmp.in,qmp.out}
    mkfifo "$dir"/plug "$dir"/ab "$dir"/ba "$dir"/requests.in "$dir"/requests.out \
        "$dir"/qmp.in "$dir"/qmp.out
    ln "$dir"/ba "$dir"/cable2.in
    ln "$dir"/ab "$dir"/cable2.out
    ln "$dir"/ab "$dir"/cable3.in
    ln "$dir"/ba "$dir"/cable3.out
}

# vm_accelerator: KVM where this machine offers it, else the emulator alone (VYNLOOP_VM_ACCEL
# chooses). Some hosts offer a /dev/kvm that cannot boot the machine (nested virtualisation):
# vm_kvm_unusable remembers that for the host's kernel, so that it is tried only once.
vm_accelerator() {
    if [ -n "${VYNLOOP_VM_ACCEL:-}" ]; then
        echo "$VYNLOOP_VM_ACCEL"
    elif [ -r /dev/kvm ] && [ -w /dev/kvm ] &&
        [ "$(cat "$VM_CACHE"/kvm-unusable 2>/dev/null)" != "$(uname -r)" ]; then
        echo kvm
    else
        echo tcg
    fi
}

vm_kvm_unusable() {
    mkdir -p "$VM_CACHE"
    uname -r >"$VM_CACHE"/kvm-unusable
}

# vm_qemu_arguments DIR KERNEL INITRD ACCEL: the machine, every character device inside DIR.
vm_qemu_arguments() {
    local dir=$1 kernel=$2 initrd=$3 accel=$4
    local arguments=(-nodefaults -no-user-config -display none -no-reboot -net none
        -m 512 -accel "$accel"
        -kernel "$kernel" -initrd "$initrd"
        -append "console=ttyS0 panic=-1 quiet 8250.nr_uarts=17"
        -chardev file,id=s0,path="$dir"/console -serial chardev:s0
        -chardev pipe,id=s1,path="$dir"/plug -serial chardev:s1
        -chardev pipe,id=s2,path="$dir"/cable2 -serial chardev:s2
        -chardev pipe,id=s3,path="$dir"/cable3 -serial chardev:s3)
    local card port
    for card in 0 1 2; do
        local device=pci-serial-4x
        for port in 1 2 3 4; do
            local n=$((4 + card * 4 + port - 1))
            arguments+=(-chardev null,id=s$n)
            device+=",chardev$port=s$n"
        done
        arguments+=(-device "$device")
    done
    arguments+=(-chardev pipe,id=requests,path="$dir"/requests
        -device pci-serial,chardev=requests
        -chardev pipe,id=qmp,path="$dir"/qmp -mon chardev=qmp,mode=control)
    printf '%s\n' "${arguments[@]}"
}

# vm_break_service DIR: answers the machine's requests until it stops. A request is one line
# "break ttySn"; the answer "ok" comes once QEMU has sent the break, else "error TEXT".
vm_break_service() {
    local dir=$1 line request reply
    exec 5>"$dir"/qmp.in 6<"$dir"/qmp.out
    read -r line <&6 || return 0  # the greeting
    echo '{"execute":"qmp_capabilities"}' >&5
    vm_qmp_reply reply <&6 || return 0
    exec 7>"$dir"/requests.in 8<"$dir"/requests.out
    while read -r request <&8; do
        request=${request%$'\r'}
        case $request in
            "break ttyS"[1-9] | "break ttyS1"[0-5])
                local id=s${request#break ttyS}
                printf '{"execute":"chardev-send-break","arguments":{"id":"%s"}}\n' "$id" >&5
                vm_qmp_reply reply <&6 || return 0
                case $reply in
                    *'"return"'*) echo ok >&7 ;;
                    *) echo "error $reply" >&7 ;;
                esac
                ;;
            *) echo "error unknown request: $request" >&7 ;;
        esac
    done
}

# vm_qmp_reply NAME: reads QMP lines until a command's answer (events come in between).
vm_qmp_reply() {
    local -n answer=$1
    while read -r answer; do
        case $answer in
            *'"return"'* | *'"error"'*) return 0 ;;
        esac
    done
    return 1
}
