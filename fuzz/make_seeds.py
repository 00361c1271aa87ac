#!/usr/bin/env python3
"""Writes the hand-made seeds of fuzz/corpus/<target>/ (crash inputs found later are kept
beside them under their own names). Each seed is a whole, well-formed exchange of its
family, so the fuzzer starts from the paths a working programmer takes.

Reply stream records (fuzz/FuzzHarness.h): u16 tag (payload length, bit 15: the next record
arrives together with this one), then the payload."""
import os
import struct
import sys

ACK, NAK, CR = 0x06, 0x15, 0x0D


def pkt(payload, more=False):
    payload = bytes(payload)
    return struct.pack('<H', len(payload) | (0x8000 if more else 0)) + payload


def ch(*chars, more=False):
    return b''.join(pkt([c], more) for c in chars)


def s64(text):
    t = text.encode()
    return pkt(bytes([len(t)]) + t + bytes(64 - len(t)))


def device_rec(name, serial, name_len=None):
    n = name.encode()
    ln = len(n) if name_len is None else name_len
    rec = bytes([ln]) + n.ljust(16, b'\0')[:16] + bytes(10) + struct.pack('<I', serial) + bytes(7) + bytes(3)
    assert len(rec) == 41
    return rec


def seeds():
    out = {}
    # Programmer check and target control: state, first call, fuse selector.
    good = ch(0x00) + ch(ACK) + ch(ACK, 0x00) + pkt([0x4A, 0x01]) + ch(CR, ACK, 0xE2)
    out['prog_check'] = {
        'all_good': bytes([0, 0, ord('l')]) + good,
        'card_faults': bytes([0, 0, ord('h')]) + ch(0x01) + ch(ACK) + ch(0x15) + pkt([0x01]) + ch(0x00, 0x03),
        'no_programmer': bytes([2, 2, 0]) + good,
        'fuse_refused': bytes([0, 5, ord('e')]) + ch(CR, NAK, 0x04),
        'silent': bytes([0, 0, 0]),
    }
    # Project files: state, first call, name.
    name = b'PROJ1.PAC'
    listing = ch(0x04) + b''.join(s64('FILE%d.PAC' % i) + ch(ACK) for i in range(14)) + s64('LAST.PAC') + ch(ACK)
    files = listing + ch(ACK, ACK) + ch(ACK, ACK, ACK, 0x00) + ch(ACK) + ch(ACK) + ch(ACK, ACK, 0x00) + s64('PROJ1.PAC')
    out['proj_files'] = {
        'all_good': bytes([0, 0, len(name)]) + name + files,
        'refusals': bytes([0, 0, len(name)]) + name + ch(0x00) + ch(NAK) + ch(NAK) + ch(NAK) + ch(NAK) + ch(NAK),
        'long_string': bytes([0, 5, 3]) + b'A.B' + ch(ACK, ACK, 0) + pkt(bytes([0xFF]) + b'x' * 100),
        'piled_up': bytes([0, 1, 1]) + b'X' + ch(ACK, ACK, ACK, ACK, ACK, more=True) + ch(ACK),
    }
    # Parameters: state, name.
    rec = bytes(range(195))
    params = ch(0x03) + pkt([0x10, 0x00]) + ch(ACK, ACK, ACK, 195) + pkt(rec)
    out['params'] = {
        'report': bytes([0, len(name)]) + name + params,
        'short_record': bytes([0, len(name)]) + name + ch(ord('?')) + pkt([1]) + ch(ACK, ACK, ACK, 195) + pkt(rec[:50]),
        'long_announcement': bytes([0, 1]) + b'P' + ch(0x01) + pkt([2, 0]) + ch(ACK, ACK, ACK, 0xFF) + pkt(rec + rec),
        'not_found': bytes([0, 1]) + b'P' + ch(0x00) + pkt([0, 0]) + ch(NAK),
    }
    # Download: state, which file (0: empty, 2: 127, 3: 128, 5: 300 bytes, 6: missing).
    def download(blocks):
        return ch(0x00) + ch(ACK) + ch(ACK, ACK) + ch(*([ACK] * blocks)) + ch(ACK)
    out['download'] = {
        'empty_file': bytes([0, 0]) + download(1),
        'one_block': bytes([0, 2]) + download(1),
        'full_block': bytes([0, 3]) + download(2),
        'three_blocks': bytes([0, 5]) + download(3),
        'block_refused': bytes([0, 5]) + ch(0x00, ACK, ACK, ACK) + ch(*([NAK] * 10)) + ch(NAK),
        'missing_file': bytes([0, 6]) + ch(0x00),
    }
    # Jobs: state, first call, polls after each call.
    erase = ch(ACK, ACK, 0x00)
    start = ch(ACK) + ch(ord('c'), ord('F'), ord('F'), ord('E'), 0x00)
    out['jobs'] = {
        'erase_and_program': bytes([0, 0, 3]) + erase * 3 + start * 9,
        'status_run': bytes([4, 3, 7]) + ch(ACK) + ch(*([ord('F')] * 30), more=True) + ch(ord('f'), 0x00),
        'verify_error': bytes([8, 9, 2]) + ch(ACK) + ch(ord('v'), 0x06, more=True) + ch(*([ord('v')] * 25), more=True)
        + ch(0x00),
        'refusals': bytes([0, 3, 1]) + ch(0x01, 0x03, 0x04, 0x05, 0x08, 0x0F, ord('L'), NAK),
    }
    # Blocks: state, first call, calls - 1, dest, count.
    def prog_block():
        return ch(ACK, ACK, 0x00) + ch(CR, 0x00)
    blocks = (prog_block() * 3 + ch(ACK, ACK, ACK, ACK) * 3 + ch(ACK, ACK, CR, CR) * 3
              + (ch(ACK, ACK, CR) + ch(*([0x11] * 16)) + pkt([0x10, 0x01])) * 3)
    out['blocks'] = {
        'all_good': bytes([0, 0, 11]) + struct.pack('<i', 0x100) + struct.pack('<H', 16) + blocks,
        'statuses': bytes([0, 0, 2]) + struct.pack('<i', 0) + struct.pack('<H', 4) + ch(ACK, ACK, 0x01, ACK, ACK, 0x07)
        + ch(ACK, ACK, 0x00, CR, 0x06),
        'up_file_short': bytes([0, 9, 0]) + struct.pack('<i', 0) + struct.pack('<H', 200) + ch(ACK, ACK, CR, 1, 2, 3),
    }
    # Read back: state, first call, chip address, page count - 1.
    block = bytes((i * 5) & 0xFF for i in range(256))
    rb = ch(ACK, ACK, 0x00) + pkt(block) + pkt(struct.pack('<H', sum(block) & 0xFFFF))
    out['readback'] = {
        'all_good': bytes([0, 0]) + struct.pack('<i', 0x200) + bytes([255]) + rb * 3,
        'long_block': bytes([0, 1]) + struct.pack('<i', 0) + bytes([15]) + ch(ACK, ACK, 0x00) + pkt(block + block)
        + pkt([0, 0]),
        'statuses': bytes([0, 0]) + struct.pack('<i', 0) + bytes([0]) + ch(ACK, ACK, 0x01, ACK, ACK, 0x04, ACK, ACK, 0x08),
    }
    # Discovery: the identify replies.
    out['identify'] = {
        'programmer': pkt(device_rec('NURVA Prog', 0x12345678)),
        'reader': pkt(device_rec('NURVA P/R', 0x0000ABCD)),
        'other_device': pkt(device_rec('Something', 1)),
        'short_then_whole': pkt(device_rec('NURVA Prog', 7)[:40]) + pkt(device_rec('NURVA Prog', 7)),
        'name_too_long': pkt(device_rec('NURVA Prog', 7, name_len=200)),
        'no_serial': pkt(device_rec('NURVA Prog', 0)),
    }
    # Arguments: state, then calls (op, flags, channel selector, arguments).
    def name_arg(b):
        return struct.pack('<H', len(b)) + b
    out['args'] = {
        'checks': bytes([0]) + bytes([0, 0, 0]) + bytes([4, 4, 0]) + bytes([5, 0, 0]) + struct.pack('<i', 0x6C) + bytes([0])
        + bytes([20, 0, 4]) + bytes([19, 6, 0]),
        'names': bytes([0]) + bytes([7, 0, 0]) + name_arg(b'A' * 300) + bytes([8, 4, 0]) + name_arg(b'')
        + bytes([11, 0, 0]) + name_arg(b'x.pac') + bytes([10, 0, 0]) + name_arg(b'\xff\x00abc'),
        'counts': bytes([0]) + bytes([16, 0, 0, 1]) + struct.pack('<i', 250) + bytes([8])
        + bytes([17, 0, 0, 3]) + struct.pack('<i', 250) + bytes([4]) + bytes([18, 0, 0, 0]) + struct.pack('<i', 0)
        + bytes([10]) + bytes([15, 0, 0, 1]) + struct.pack('<i', 0) + bytes([6]),
        'channels': bytes([2]) + bytes([0, 3, 9]) + bytes([1, 0, 10]) + bytes([14, 1, 4]) + bytes([6, 0, 0xFF])
        + struct.pack('<i', -5),
    }
    return out


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'corpus')
    for target, files in seeds().items():
        d = os.path.join(root, target)
        os.makedirs(d, exist_ok=True)
        for name, data in files.items():
            with open(os.path.join(d, 'seed_' + name), 'wb') as f:
                f.write(data)
    return 0


if __name__ == '__main__':
    sys.exit(main())
