"""Similarity written out plainly, summing in element order as the engine does."""

import math


def cosine(a, b):
    dot = na = nb = 0.0
    for x, y in zip(a, b):
        dot += x * y
        na += x * x
        nb += y * y
    d = math.sqrt(na) * math.sqrt(nb)
    return 0.0 if d == 0.0 else dot / d


def euclidean(a, b):
    sq = 0.0
    for x, y in zip(a, b):
        sq += (x - y) * (x - y)
    return 1.0 / (math.sqrt(sq) + 1.0)
