// The request for a media listing after a capture. Writers: whatever ends a
// capture (command workers, the RC loop's worker, the joysticks, the camera
// receive thread when the camera stops a shot by itself). Reader: the FTP
// listing thread, which takes the request once a second; requests meanwhile merge.
#pragma once

void RequestMediaListing();

// True when a listing was asked for since the last call; clears the request.
bool TakeMediaListingRequest();
