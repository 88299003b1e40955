// The one check an address text passes before it becomes a record, a row or a destination: texts
// from the network (the address box's list, a device's "IP") and the addresses the operator types.
#pragma once

// True for a text that ss_ip_judge finds usable. Otherwise logs one line naming the text (control
// characters escaped, cut at 64 characters), where it came from and why, and gives false.
bool acceptNetworkAddress(const char* text, const char* source);

// The operator's address box or single-device address (narrow text): the same judgement, no log
// line (the window says 非法地址盒IP / 非法IP地址).
bool acceptTypedAddress(const char* text);
