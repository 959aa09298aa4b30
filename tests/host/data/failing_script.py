# A parser that fails on every second packet, after printing: the log keeps
# the printed lines, the traceback and the failure in that order, and the
# next packet is handled normally.
import plugin

calls = 0


def ParseData(params, source, fifo, results):
    global calls
    calls += 1
    print("call %d with %d bytes" % (calls, fifo.Size))
    results.AddItem("Call", calls)
    fifo.Shift(fifo.Size)
    if calls % 2 == 0:
        raise ValueError("even call %d" % calls)
    plugin.DbgLog("call %d done" % calls)
