"""The directory states a crash can leave after a recorded run, under three
persistence models:
  ordered   operations persist in order: any prefix;
  delalloc  metadata persists in order, but a file's data written since its
            last fsync may be lost: the file keeps its size and reads as
            zeros, or is as it was at its last fsync (often empty);
  weak      only barriers order anything: an fsync of a file makes its
            data durable, an fsync of the directory makes its earlier entry
            changes durable, sync makes everything durable; of the
            operations not yet made durable, any subset persists (applied in
            program order; a rename is one operation).
Each state is a tuple of (name, link group, content), link groups telling
which names are hard links of one file."""

import itertools

from trace_model import BARRIERS, DATA_OPS, DIR_OPS

SUBSET_CAP = 1 << 12  # subsets tried per window of the weak model


def describe(op):
    if op[0] == "write":
        return "write %d bytes at %d to inode %d" % (len(op[3]), op[2], op[1])
    if op[0] == "rename":
        return "rename %s -> %s" % (op[1], op[2])
    return " ".join(str(part) for part in op)


def covered_at(ops):
    """For each operation, the index of the barrier that makes it durable
    (len(ops) when none does)."""
    result = []
    for i, op in enumerate(ops):
        at = len(ops)
        for j in range(i + 1, len(ops)):
            barrier = ops[j]
            if barrier[0] == "sync" or (barrier[0] == "fsyncdir" and op[0] in DIR_OPS) or (
                    barrier[0] == "fsync" and op[0] in DATA_OPS and barrier[1] == op[1]):
                at = j
                break
        result.append(at if op[0] in DIR_OPS + DATA_OPS else i)
    return result


def apply(ops, initial, before, zeroed=()):
    """The state after ops (in order); writes whose index is in zeroed
    persist as zeros of their length."""
    names = dict(before)
    contents = {inode: bytearray(content) for inode, content in initial.items()}
    for index, op in enumerate(ops):
        kind = op[0]
        if kind == "create" or kind == "link":
            name, inode = (op[1], op[2]) if kind == "create" else (op[2], op[1])
            names[name] = inode
        elif kind == "rename":
            names.pop(op[1], None)
            names[op[2]] = op[3]
        elif kind == "unlink":
            names.pop(op[1], None)
        elif kind == "write":
            data = bytes(len(op[3])) if index in zeroed else op[3]
            content = contents[op[1]]
            if len(content) < op[2]:
                content.extend(bytes(op[2] - len(content)))
            content[op[2]:op[2] + len(data)] = data
        elif kind == "truncate":
            content = contents[op[1]]
            del content[op[2]:]
            content.extend(bytes(op[2] - len(content)))
    groups = {}
    return tuple(sorted((name, groups.setdefault(inode, len(groups)), bytes(contents[inode]))
                        for name, inode in names.items()))


def _relabel(state):
    """Link groups numbered by first name, so equal states compare equal."""
    order = {}
    for name, group, _ in state:
        order.setdefault(group, len(order))
    return tuple((name, order[group], content) for name, group, content in state)


def ordered_states(ops):
    for k in range(len(ops) + 1):
        yield "prefix %d" % k, ops[:k], ()


def delalloc_states(ops):
    covered = covered_at(ops)
    for k in range(len(ops) + 1):
        dirty = {}
        for i in range(k):
            if ops[i][0] in DATA_OPS and covered[i] >= k:
                dirty.setdefault(ops[i][1], []).append(i)
        inodes = sorted(dirty)
        for choice in itertools.product(("kept", "zeros", "lost"), repeat=len(inodes)):
            lost = {i for inode, c in zip(inodes, choice) if c == "lost" for i in dirty[inode]}
            zeros = {i for inode, c in zip(inodes, choice) if c == "zeros" for i in dirty[inode]}
            kept = [op for i, op in enumerate(ops[:k]) if i not in lost]
            renumbered = {j for j, i in enumerate(i for i in range(k) if i not in lost) if i in zeros}
            label = "prefix %d" % k + "".join(" data of inode %d %s" % (n, c) for n, c in zip(inodes, choice))
            yield label, kept, renumbered


def weak_states(ops, capped):
    covered = covered_at(ops)
    ends = [j for j, op in enumerate(ops) if op[0] in BARRIERS] + [len(ops)]
    for end in ends:
        durable = [i for i in range(end) if covered[i] < end]
        pending = [i for i in range(end) if covered[i] >= end and ops[i][0] in DIR_OPS + DATA_OPS]
        count = 0
        for size in range(len(pending) + 1):
            for subset in itertools.combinations(pending, size):
                if count == SUBSET_CAP:
                    capped.append(end)
                    break
                count += 1
                chosen = sorted(durable + list(subset))
                lost = [i for i in pending if i not in subset]
                label = "crash before op %d, lost: %s" % (end, "; ".join(describe(ops[i]) for i in lost) or "nothing")
                yield label, [ops[i] for i in chosen], ()
            else:
                continue
            break


def states(model, ops, initial, before, capped):
    """{state: first label that reaches it} for one model."""
    if model == "ordered":
        source = ordered_states(ops)
    elif model == "delalloc":
        source = delalloc_states(ops)
    else:
        source = weak_states(ops, capped)
    found = {}
    for label, chosen, zeroed in source:
        found.setdefault(_relabel(apply(chosen, initial, before, zeroed)), label)
    return found
