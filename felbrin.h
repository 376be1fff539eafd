// The instrument-support library: include this one header.
#pragma once

#include "common/dirs.h"
#include "common/errors.h"
#include "common/hooks.h"
#include "common/host.h"
#include "common/host_utils.h"
#include "common/parsers.h"
#include "common/util.h"
#include "data/ascii_file.h"
#include "data/binary_file.h"
#include "data/containers.h"
#include "data/dumps.h"
#include "data/point_list.h"
#include "data/records.h"
#include "instrument/serial/serial_port.h"
