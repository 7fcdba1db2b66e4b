#!/usr/bin/python3
"""The work of `vexel suv` on one series, in pydicom and numpy, for the benchmark: every
file's header and pixels read, the SUVbw factor (decay correction START from the series time),
and the minimum, median and maximum over the non-zero voxels."""
import pathlib
import sys
from datetime import datetime

import numpy
import pydicom


def factor(ds):
    item = ds.RadiopharmaceuticalInformationSequence[0]
    day = ds.SeriesDate
    start = datetime.strptime(day + item.RadiopharmaceuticalStartTime.split(".")[0], "%Y%m%d%H%M%S")
    series = datetime.strptime(day + ds.SeriesTime.split(".")[0], "%Y%m%d%H%M%S")
    elapsed = (series - start).total_seconds()
    dose = float(item.RadionuclideTotalDose) * 2 ** (-elapsed / float(item.RadionuclideHalfLife))
    return float(ds.PatientWeight) * 1000 / dose


values = []
for path in sorted(pathlib.Path(sys.argv[1]).iterdir()):
    ds = pydicom.dcmread(path)
    image = ds.pixel_array * float(ds.RescaleSlope) + float(ds.RescaleIntercept)
    image = image[image != 0] * factor(ds)
    values.append(image.astype(numpy.float32))
values = numpy.concatenate(values)
print(values.min(), numpy.median(values), values.max())
