// The popup action: CRC text → source path → the host's launch service.
#pragma once

int LaunchByCrc(const char* crcText);
