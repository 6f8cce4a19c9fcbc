// The newest media file on the camera, asked for over FTP after each capture.
#pragma once

void StartMediaListing();

// Asks for a listing; requests within a second, or while one runs, merge.
void RequestMediaListing();
