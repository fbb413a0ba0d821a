"""serve in a process a core: one listening socket each on the same port,
the kernel told to give every connection from one client address to the
same one (so that each address's limits and connections are counted
whole in one place), and the processes forked once the set is read, each
ending with serve. Where the kernel cannot be told so, one process."""
import contextlib
import ctypes
import os
import signal
import socket
import struct

SO_ATTACH_REUSEPORT_CBPF = 51
SKF_NET_OFF = -0x100000
PR_SET_PDEATHSIG = 1


def by_address(count):
    """A classic BPF program for a group of `count` sockets: the socket
    numbered by the client's address (IPv4: the whole of it; IPv6: four of
    its bytes), modulo `count`."""
    program = [(0x20, 0, 0, (SKF_NET_OFF + 12) & 0xffffffff),  # A = the 32 bits at network header + 12
               (0x94, 0, 0, count),  # A %= count
               (0x16, 0, 0, 0)]  # return A
    code = ctypes.create_string_buffer(b''.join(struct.pack('HBBI', *step) for step in program))
    return struct.pack('HP', len(program), ctypes.addressof(code)), code


def sockets(host, port, count):
    """`count` sockets listening on host:port, steered by client address;
    one plain socket where the kernel takes no such program or count is 1.
    An OSError where the port is taken: first tried without sharing it,
    so that a second serve cannot join the first's group."""
    family = socket.AF_INET6 if ':' in host else socket.AF_INET
    with socket.socket(family, socket.SOCK_STREAM) as alone:
        alone.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        alone.bind((host, port))
    made = []
    try:
        for _ in range(count):
            made.append(socket.socket(family, socket.SOCK_STREAM))
            made[-1].setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            if count > 1:
                made[-1].setsockopt(socket.SOL_SOCKET, socket.SO_REUSEPORT, 1)
            made[-1].bind((host, port))
            made[-1].listen(1024)
        if count > 1:
            program, code = by_address(count)
            made[0].setsockopt(socket.SOL_SOCKET, SO_ATTACH_REUSEPORT_CBPF, program)
            del code  # the kernel has its own copy
    except OSError:
        for s in made:
            s.close()
        if count > 1:
            return sockets(host, port, 1)
        raise
    for s in made:
        s.setblocking(False)
    return made


def fork_workers(listening):
    """Forks a process for each socket but the first, which stays with this
    one: (the socket this process serves, the workers' process ids, or
    None in a worker)."""
    parent, workers = os.getpid(), []
    for mine in listening[1:]:
        pid = os.fork()
        if pid == 0:
            libc = ctypes.CDLL(None, use_errno=True)
            libc.prctl(PR_SET_PDEATHSIG, signal.SIGTERM)  # ends with serve, however serve ends
            if os.getppid() != parent:
                os._exit(0)
            for other in listening:
                if other is not mine:
                    other.close()
            return mine, None
        workers.append(pid)
    return listening[0], workers


def end(workers):
    """The workers stopped and waited for (none in a worker)."""
    workers = workers or []
    for pid in workers:
        with contextlib.suppress(ProcessLookupError):
            os.kill(pid, signal.SIGTERM)
    for pid in workers:
        with contextlib.suppress(ChildProcessError):
            os.waitpid(pid, 0)
