# Station window sources of varnex2_app.
