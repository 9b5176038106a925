"""Writes the same CAN frames in every format python-can and can-utils write, for the tests of
the recording readers: python-can's BLF, TRC, ASC and candump -L writers, can-utils' log2long
(candump's screen output) and log2asc (-f writes every frame on a CANFD line, a classic one told
by its flags), and each of them gzip-compressed.

    write_recordings.py FOLDER COUNT SEED

frames.*   data frames only (python-can's TRC writer writes nothing else)
mixed.*    data, remote, CAN FD and error frames, in the formats that hold them all
on_fd_channel.*  data, remote and CAN FD frames, and log2asc -f's ASC of them
"""
import gzip
import os
import random
import shutil
import subprocess
import sys

import can

folder, count, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(seed)
standard_ids = [rng.randrange(0x800) for _ in range(40)] + [0x000, 0x7FF]
extended_ids = [rng.randrange(0x20000000) for _ in range(40)] + [0x00000001, 0x1FFFFFFF]


def frames(kinds):
    messages = []
    for i in range(count):
        extended = rng.random() < 0.4
        kind = rng.choice(kinds)
        message = can.Message(
            timestamp=1700000000.0 + i * 0.000250,
            arbitration_id=rng.choice(extended_ids if extended else standard_ids),
            is_extended_id=extended,
            channel=0,
        )
        if kind == "remote":
            message.is_remote_frame = True
            message.dlc = rng.randrange(9)
        elif kind == "fd":
            message.is_fd = True
            message.data = bytes(rng.randrange(256) for _ in range(rng.choice([0, 5, 12, 64])))
            message.dlc = len(message.data)
        elif kind == "error":
            message.is_error_frame = True
            message.arbitration_id = 0
            message.is_extended_id = False
            message.dlc = 8
            message.data = bytes(8)
        else:
            message.data = bytes(rng.randrange(256) for _ in range(rng.randrange(9)))
            message.dlc = len(message.data)
        messages.append(message)
    return messages


def write(name, writer, messages):
    path = os.path.join(folder, name)
    log = writer(path)
    for message in messages:
        log.on_message_received(message)
    log.stop()
    with open(path, "rb") as plain, gzip.open(path + ".gz", "wb") as packed:
        shutil.copyfileobj(plain, packed)


def run(arguments, output):
    with open(os.path.join(folder, output), "wb") as out:
        subprocess.run(arguments, stdout=out, check=True, cwd=folder)


data = frames(["data"])
for name, writer in [("frames.blf", can.BLFWriter), ("frames.trc", can.TRCWriter),
                     ("frames.asc", can.ASCWriter), ("frames.log", can.CanutilsLogWriter)]:
    write(name, writer, data)
with open(os.path.join(folder, "frames.log"), "rb") as log:
    with open(os.path.join(folder, "frames.screen"), "wb") as out:
        subprocess.run(["log2long"], stdin=log, stdout=out, check=True)
run(["log2asc", "-I", "frames.log", "can0"], "frames_log2asc.asc")

mixed = frames(["data", "data", "remote", "fd", "error"])
for name, writer in [("mixed.blf", can.BLFWriter), ("mixed.asc", can.ASCWriter),
                     ("mixed.log", can.CanutilsLogWriter)]:
    write(name, writer, mixed)
run(["log2asc", "-I", "mixed.log", "can0"], "mixed_log2asc.asc")

# log2asc -f writes an error frame as a data frame: these have none.
on_fd_channel = frames(["data", "remote", "fd"])
write("on_fd_channel.log", can.CanutilsLogWriter, on_fd_channel)
run(["log2asc", "-f", "-I", "on_fd_channel.log", "can0"], "on_fd_channel_log2asc.asc")
